#include "piano/CPianoOctave.h"

#include <QPainter>
#include <QRect>

namespace piano {

namespace {

// Where key i starts: xUnits × u + xSteps × s, with s = u ÷ 3. White keys are 4u wide and 2s
// apart with a margin of s at both ends; a black key starts 3u + s after the white key before it.
struct KeyPlace {
    char shape;
    int xUnits;
    int xSteps;
};

constexpr std::array<KeyPlace, CPianoOctave::kKeyCount> kKeyPlaces{{
    {'A', 0, 1},    // C
    {'D', 3, 2},    // C#
    {'B', 4, 3},    // D
    {'D', 7, 4},    // D#
    {'C', 8, 5},    // E
    {'A', 12, 7},   // F
    {'D', 15, 8},   // F#
    {'B', 16, 9},   // G
    {'D', 19, 10},  // G#
    {'B', 20, 11},  // A
    {'D', 23, 12},  // A#
    {'C', 24, 13},  // B
}};

}  // namespace

bool CPianoOctave::Build(int x, int y, int unit, int width, int height) {
    m_x = x;
    m_y = y;
    m_width = width;
    m_height = height;
    m_picture = QImage(width, height, QImage::Format_RGB32);
    if (m_picture.isNull()) {
        return false;
    }
    m_picture.fill(kBackground);
    const int step = unit / 3;
    for (int i = 0; i < kKeyCount; ++i) {
        const KeyPlace& place = kKeyPlaces[static_cast<std::size_t>(i)];
        m_keys[static_cast<std::size_t>(i)].Setup(
            &m_picture, place.xUnits * unit + place.xSteps * step, 0, place.shape, unit);
    }
    return true;
}

void CPianoOctave::SetNotes(BYTE base) {
    for (int i = 0; i < kKeyCount; ++i) {
        m_keys[static_cast<std::size_t>(i)].SetNote(static_cast<BYTE>(base + i));
    }
}

void CPianoOctave::ReleaseAll() {
    for (CPianoKey& key : m_keys) {
        key.DrawReleased();
    }
}

void CPianoOctave::Press(int index, CPianoCtrl& control) {
    CPianoKey& key = m_keys.at(static_cast<std::size_t>(index));
    key.DrawPressed();
    key.Invalidate(m_x, m_y, control);
}

void CPianoOctave::Release(int index, CPianoCtrl& control) {
    CPianoKey& key = m_keys.at(static_cast<std::size_t>(index));
    key.DrawReleased();
    key.Invalidate(m_x, m_y, control);
}

BYTE CPianoOctave::HitTest(int x, int y) const {
    // Keys in index order; shapes do not overlap, so the first answer is the only one.
    for (const CPianoKey& key : m_keys) {
        const BYTE note = key.HitTest(x - m_x, y - m_y);
        if (note != kNoKey) {
            return note;
        }
    }
    return kNoKey;
}

void CPianoOctave::Paint(QPainter& target, const QRect& clip) const {
    const QRect area = QRect(m_x, m_y, m_width, m_height).intersected(clip);
    if (area.isEmpty() || m_picture.isNull()) {
        return;
    }
    target.drawImage(area.topLeft(), m_picture, area.translated(-m_x, -m_y));
}

}  // namespace piano
