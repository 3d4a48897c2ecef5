#pragma once

#include <cstdint>

namespace piano {

// MIDI note number; kNoKey stands for "no key" in hit testing and the mouse state.
using BYTE = std::uint8_t;
inline constexpr BYTE kNoKey = 255;

// Place and size in pixels shared by the control, its octaves and their keys. Keys use only
// the position. The accessors are capitalised so that they do not hide QWidget's own.
class CPianoItem {
public:
    CPianoItem() = default;
    CPianoItem(const CPianoItem&) = default;
    CPianoItem& operator=(const CPianoItem&) = default;
    virtual ~CPianoItem() = default;

    int X() const { return m_x; }
    int Y() const { return m_y; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

protected:
    int m_x = 0;
    int m_y = 0;
    int m_width = 0;
    int m_height = 0;
};

}  // namespace piano
