#include "piano/CPianoKey.h"

#include <algorithm>

#include <QImage>

#include "piano/CPianoCtrl.h"

namespace piano {

namespace {

// Rectangle from exclusive right and bottom edges.
QRect Span(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

// Plain row fills of a 32-bit picture: no painter to set up per key change. The performance
// lock keeps writers and the paint handler apart.
void FillRect(QImage& picture, const QRect& rect, QRgb colour) {
    const QRect area = rect.intersected(picture.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(picture.scanLine(y)) + area.left();
        std::fill_n(row, area.width(), colour);
    }
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
    FillRect(*m_surface, m_upper, colour);
    if (!IsBlack()) {
        FillRect(*m_surface, m_lower, colour);
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
