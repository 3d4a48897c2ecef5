#pragma once

#include <QColor>
#include <QString>
#include <array>
#include <string_view>

#include "platform/music/Types.h"

namespace performance {

using platform::music::BOOL;
using platform::music::BYTE;

// Columns of the message list; the last one is hidden and carries the source tag that picks the
// row colour.
enum class MidiListColumn { Channel = 0, Note, Nota, Value, Velocity, Source };
inline constexpr int kMidiListColumnCount = 6;

// Source tags passed to CMidiListCtrl::AddMessage.
enum class NoteSource { Piano = 1, MidiInput = 2, Playback = 3, KeyBed = 4 };

inline constexpr std::array<std::string_view, 12> kLetterNames = {
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
inline constexpr std::array<std::string_view, 12> kSolfegeNames = {
    "DO", "DO#", "RE", "RE#", "MI", "FA", "FA#", "SOL", "SOL#", "LA", "LA#", "SI"};
inline constexpr std::array<std::string_view, kMidiListColumnCount> kMidiListHeadings = {
    "Channel", "Note", "Nota", "Value", "Velocity", ""};

// One glyph per step of velocity * 10 / 127: U+25AE BLACK VERTICAL RECTANGLE, narrow enough
// for several to sit in the 35-pixel frame and present in the installed fonts.
inline constexpr char16_t kVelocityGlyph = u'\u25AE';

// Row colours by source tag; index 0 is the colour of an unknown or missing tag.
inline constexpr std::array<QRgb, 5> kSourceColors = {
    qRgb(255, 0, 0),      // unknown: red
    qRgb(0, 255, 0),      // on-screen piano: green
    qRgb(255, 255, 0),    // MIDI input port: yellow
    qRgb(127, 255, 255),  // playback: light cyan
    qRgb(255, 128, 64),   // USB key bed: orange
};

using MidiRowTexts = std::array<QString, kMidiListColumnCount>;

// The six cell texts of one row: "1", letter name + octave ("C4"), solfège name + octave
// ("DO4"), the note number, the velocity bar and the source tag.
MidiRowTexts MakeMidiRowTexts(BYTE note, BYTE velocity, int source);

// Number of bar glyphs for a velocity: velocity * 10 / 127.
constexpr int VelocityBarLength(BYTE velocity) {
    return velocity * 10 / 127;
}

// Reads a source tag back from a hidden cell as a C decimal conversion does: leading digits of
// at most the first 9 characters; empty or non-numeric text gives 0.
int SourceTagOfText(const QString& hiddenCell);

// Colour of a row whose source tag is `source`; tags outside 1..4 are red.
QColor SourceColor(int source);

}  // namespace performance
