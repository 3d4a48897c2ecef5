#pragma once

#include <QSlider>

namespace performance {

// A vertical trackbar: minimum at the top for every input (the arrow keys, Page Up/Down and
// the wheel move the thumb the way they point), and one `ReleasedCapture` signal when a
// change ends, however it was made: the mouse let go after a drag or a click on the groove,
// a wheel step or a key that moved the thumb. Setting the value in code emits nothing.
class CSliderCtrl : public QSlider {
    Q_OBJECT

public:
    explicit CSliderCtrl(QWidget* parent = nullptr);

signals:
    void ReleasedCapture();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    bool m_bCaptured = false;
};

}  // namespace performance
