#include "performance/CSliderCtrl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace performance {

CSliderCtrl::CSliderCtrl(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    // A trackbar's minimum is at the top, and every control moves the thumb the way it
    // points: Up, Page Up and the wheel turned away from the user move it up.
    setInvertedAppearance(true);
    setInvertedControls(true);
    setTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void CSliderCtrl::mousePressEvent(QMouseEvent* e) {
    QSlider::mousePressEvent(e);
    // Only a press the slider took (on the thumb or the groove) captures the mouse.
    if (e->isAccepted())
        m_bCaptured = true;
}

void CSliderCtrl::mouseReleaseEvent(QMouseEvent* e) {
    QSlider::mouseReleaseEvent(e);
    if (m_bCaptured && e->buttons() == Qt::NoButton) {
        m_bCaptured = false;
        emit ReleasedCapture();
    }
}

void CSliderCtrl::keyPressEvent(QKeyEvent* e) {
    const int before = value();
    QSlider::keyPressEvent(e);
    if (value() != before)
        emit ReleasedCapture();
}

void CSliderCtrl::wheelEvent(QWheelEvent* e) {
    const int before = value();
    QSlider::wheelEvent(e);
    // A wheel step during a drag ends with the drag.
    if (value() != before && !m_bCaptured)
        emit ReleasedCapture();
}

}  // namespace performance
