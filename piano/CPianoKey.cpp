#include "piano/CPianoKey.h"

#include <QImage>
#include <QPainter>

#include "piano/CPianoCtrl.h"

namespace piano {

namespace {

// Rectangle from exclusive right and bottom edges.
QRect Span(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace

void CPianoKey::Setup(QImage* surface, int x, int y, char shape, int unit) {
    m_surface = surface;
    m_shape = shape;
    m_x = x;
    m_y = y;
    const int u = unit;
    switch (shape) {
        case 'A':  // black key on the right only
            m_upper = Span(x, y, x + 3 * u, y + 10 * u);
            break;
        case 'B':  // black keys on both sides
            m_upper = Span(x + u, y, x + 3 * u, y + 10 * u);
            break;
        case 'C':  // black key on the left only
            m_upper = Span(x + u, y, x + 4 * u, y + 10 * u);
            break;
        default:  // 'D', black key
            m_upper = Span(x, y, x + 2 * u, y + 10 * u - u / 3);
            m_lower = QRect();
            return;
    }
    m_lower = Span(x, y + 10 * u, x + 4 * u, y + 16 * u);
}

void CPianoKey::DrawReleased() {
    Fill(IsBlack() ? kBlackReleased : kWhiteReleased);
}

void CPianoKey::DrawPressed() {
    Fill(IsBlack() ? kBlackPressed : kWhitePressed);
}

void CPianoKey::Fill(QRgb colour) {
    if (m_surface == nullptr) {
        return;
    }
    // QImage may be painted on any thread; the performance lock keeps painters apart.
    QPainter painter(m_surface);
    painter.fillRect(m_upper, QColor(colour));
    if (!IsBlack()) {
        painter.fillRect(m_lower, QColor(colour));
    }
}

BYTE CPianoKey::HitTest(int x, int y) const {
    const QPoint point(x, y);
    if (m_upper.contains(point) || (!IsBlack() && m_lower.contains(point))) {
        return m_note;
    }
    return kNoKey;
}

void CPianoKey::Invalidate(int octaveX, int octaveY, CPianoCtrl& control) const {
    QRegion area(m_upper.translated(octaveX, octaveY));
    if (!IsBlack()) {
        area += m_lower.translated(octaveX, octaveY);
    }
    control.InvalidateArea(area);
}

}  // namespace piano
