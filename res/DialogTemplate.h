#pragma once

#include <span>
#include <string_view>

namespace res {

enum class ControlKind {
    ComboBox,     // drop-down list with vertical scroll; h is the height of the open list
    Piano,        // the on-screen piano control
    ListView,     // report-view list
    Label,        // static text
    LabelNoWrap,  // static text on one line
    PushButton,
    IconButton,  // push button showing an icon
    GroupBox,
    ProgressBar,
    Bitmap,                 // picture showing a bitmap resource
    Icon,                   // picture showing an icon resource
    LinkBitmap,             // bitmap picture that is a hyperlink
    LinkIcon,               // icon picture that is a hyperlink
    VerticalSlider,         // trackbar with tick marks on both sides
    VerticalSliderNoTicks,  // trackbar without tick marks
    Edit,                   // one-line edit with a border, scrolling horizontally
};

// One control of a dialog template, placed in dialog units.
struct ControlTemplate {
    int id;  // 0 for controls the program never addresses
    ControlKind kind;
    std::string_view text;
    int x, y, w, h;
    int image = 0;  // resource id for Bitmap and Icon controls
    bool visible = true;
    bool enabled = true;
};

struct DialogTemplate {
    int id;
    std::string_view title;
    int width, height;  // client area, dialog units
    std::span<const ControlTemplate> controls;
};

// One dialog unit in pixels, for the template's font at 96 dpi.
constexpr double kPixelsPerDialogUnit = 1.75;

constexpr int DialogUnitsToPixels(int units) {
    return int(units * kPixelsPerDialogUnit + 0.5);
}

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& InstructionsDialogTemplate();
const DialogTemplate& TextEntryDialogTemplate();

}  // namespace res
