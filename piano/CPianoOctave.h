#pragma once

#include <array>

#include <QImage>
#include <QRgb>

#include "piano/CPianoItem.h"
#include "piano/CPianoKey.h"

class QPainter;
class QRect;

namespace piano {

class CPianoCtrl;

// Twelve keys (C, C#, D ... B) and the off-screen picture they draw themselves into. x, y,
// width and height are the picture's place and size in the control. Not copyable or movable:
// the keys point at the picture. Drawing and painting happen under the performance lock.
class CPianoOctave : public CPianoItem {
public:
    static constexpr int kKeyCount = 12;
    static constexpr QRgb kBackground = qRgb(200, 200, 200);

    CPianoOctave() = default;
    CPianoOctave(const CPianoOctave&) = delete;
    CPianoOctave& operator=(const CPianoOctave&) = delete;
    ~CPianoOctave() override = default;

    // Creates the picture filled with the background grey and lays out the keys (not drawn).
    // False when the picture cannot be allocated.
    bool Build(int x, int y, int unit, int width, int height);

    // Key i gets note (base + i) modulo 256.
    void SetNotes(BYTE base);
    void ReleaseAll();
    void Press(int index, CPianoCtrl& control);
    void Release(int index, CPianoCtrl& control);

    // x and y in control coordinates.
    BYTE HitTest(int x, int y) const;

    // Copies the part of the picture that falls in `clip` (control coordinates) to the target.
    void Paint(QPainter& target, const QRect& clip) const;

    const QImage& GetPicture() const { return m_picture; }
    const CPianoKey& GetKey(int index) const { return m_keys.at(index); }

private:
    QImage m_picture;
    std::array<CPianoKey, kKeyCount> m_keys;
};

}  // namespace piano
