#include "app/DialogBuilder.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include "performance/CMidiListCtrl.h"
#include "performance/CSliderCtrl.h"
#include "piano/CPianoCtrl.h"
#include "web/CHyperLink.h"
#include "web/FitToClient.h"

namespace app {
namespace {

using res::ControlKind;
using res::DialogUnitsToPixels;

}  // namespace

QString ImagePath(const char* kind, int id) {
    return QStringLiteral(":/res/%1-%2.png").arg(QLatin1String(kind)).arg(id);
}

namespace {

QString Text(const res::ControlTemplate& c) {
    return QString::fromUtf8(c.text.data(), qsizetype(c.text.size()));
}

QWidget* Create(QWidget* client, const res::ControlTemplate& c) {
    switch (c.kind) {
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(client);
            combo->setMaxVisibleItems(std::max(1, DialogUnitsToPixels(c.h) / 18));
            return combo;
        }
        case ControlKind::Piano:
            return new piano::CPianoCtrl(client);
        case ControlKind::ListView:
            return new performance::CMidiListCtrl(client);
        case ControlKind::Label: {
            auto* label = new QLabel(Text(c), client);
            // Labels also show text from outside (the announcement, a song's author and
            // title): never let the label read it as markup.
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case ControlKind::LabelNoWrap: {
            auto* label = new QLabel(Text(c), client);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case ControlKind::PushButton:
        case ControlKind::IconButton: {
            auto* button = new QPushButton(client);
            // An icon button shows its icon (set at start-up), its text only as a tooltip.
            if (c.kind == ControlKind::PushButton)
                button->setText(Text(c));
            else
                button->setToolTip(Text(c));
            button->setAutoDefault(false);
            return button;
        }
        case ControlKind::GroupBox: {
            // A frame only draws: clicks go through to the controls it surrounds.
            auto* box = new QGroupBox(Text(c), client);
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            return box;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(client);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
        case ControlKind::Bitmap: {
            auto* label = new QLabel(client);
            label->setPixmap(QPixmap(ImagePath("bitmap", c.image)));
            return label;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(client);
            label->setPixmap(QPixmap(ImagePath("icon", c.image)));
            return label;
        }
        case ControlKind::LinkBitmap:
        case ControlKind::LinkIcon: {
            const bool bitmap = c.kind == ControlKind::LinkBitmap;
            auto* link = new web::CHyperLink(client, bitmap ? web::kStyleBitmap : web::kStyleIcon);
            link->setPixmap(QPixmap(ImagePath(bitmap ? "bitmap" : "icon", c.image)));
            return link;
        }
        case ControlKind::VerticalSlider:
        case ControlKind::VerticalSliderNoTicks: {
            auto* slider = new performance::CSliderCtrl(client);
            slider->setTickPosition(c.kind == ControlKind::VerticalSlider ? QSlider::TicksBothSides
                                                                          : QSlider::NoTicks);
            return slider;
        }
        case ControlKind::Edit:
            return new QLineEdit(Text(c), client);
    }
    return nullptr;
}

}  // namespace

std::map<int, QWidget*> BuildControls(QWidget* client, const res::DialogTemplate& dialog) {
    std::map<int, QWidget*> byId;
    for (const res::ControlTemplate& c : dialog.controls) {
        QWidget* w = Create(client, c);
        const QRect rect(DialogUnitsToPixels(c.x), DialogUnitsToPixels(c.y),
                         DialogUnitsToPixels(c.w), DialogUnitsToPixels(c.h));
        if (c.kind == ControlKind::ComboBox) {
            // The template's height is that of the open list; the closed box is one line.
            w->setGeometry(rect.x(), rect.y(), rect.width(), w->sizeHint().height());
        } else if (c.kind == ControlKind::Icon || c.kind == ControlKind::Bitmap ||
                   c.kind == ControlKind::LinkIcon || c.kind == ControlKind::LinkBitmap) {
            // Pictures show at their own size from the template's corner.
            w->move(rect.topLeft());
            w->adjustSize();
        } else {
            w->setGeometry(rect);
        }
        if (c.kind == ControlKind::GroupBox)
            w->lower();
        w->setVisible(c.visible);
        w->setEnabled(c.enabled);
        if (c.id != 0) {
            w->setObjectName(QStringLiteral("control%1").arg(c.id));
            byId.emplace(c.id, w);
        }
    }
    return byId;
}

}  // namespace app
