#pragma once

#include <map>

#include "res/DialogTemplate.h"

#include <QString>

class QWidget;

namespace app {

// Creates the controls of a dialog template as children of `client`, placed at the template's
// positions (dialog units × 1.75 px), in template order so that the tab order follows it.
// Returns the controls that have an id; Qt parent ownership keeps them.
std::map<int, QWidget*> BuildControls(QWidget* client, const res::DialogTemplate& dialog);

// The pixmap of an image resource ("icon-128", "bitmap-131", "cursor-145").
QString ImagePath(const char* kind, int id);

}  // namespace app
