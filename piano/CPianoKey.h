#pragma once

#include <QRect>
#include <QRegion>
#include <QRgb>

#include "piano/CPianoItem.h"

class QImage;

namespace piano {

class CPianoCtrl;

// One key of an octave. Draws itself into its octave's picture; whether it is down lives only
// in that picture. Callers hold the performance lock while drawing.
class CPianoKey : public CPianoItem {
public:
    // Shapes: 'A' (C, F), 'B' (D, G, A), 'C' (E, B) are white keys, 'D' the black keys.
    void Setup(QImage* surface, int x, int y, char shape, int unit);

    void DrawReleased();
    void DrawPressed();

    // The key's note when (x, y), in octave coordinates, lies in its shape; else kNoKey.
    BYTE HitTest(int x, int y) const;

    // Asks the control to repaint the key's rectangles moved by the octave's position.
    void Invalidate(int octaveX, int octaveY, CPianoCtrl& control) const;

    void SetNote(BYTE note) { m_note = note; }
    BYTE GetNote() const { return m_note; }
    char GetShape() const { return m_shape; }
    bool IsBlack() const { return m_shape == 'D'; }
    // Right and bottom edges are exclusive (QRect keeps them as right() + 1, bottom() + 1).
    const QRect& GetUpperRect() const { return m_upper; }
    // Empty for black keys.
    const QRect& GetLowerRect() const { return m_lower; }

    static constexpr QRgb kBlackPressed = qRgb(52, 78, 199);
    static constexpr QRgb kBlackReleased = qRgb(0, 0, 0);
    static constexpr QRgb kWhitePressed = qRgb(154, 169, 239);
    static constexpr QRgb kWhiteReleased = qRgb(255, 255, 255);

private:
    void Fill(QRgb colour);

    QImage* m_surface = nullptr;  // the octave's picture, not owned
    char m_shape = 'A';
    QRect m_upper;
    QRect m_lower;
    BYTE m_note = 0;
};

}  // namespace piano
