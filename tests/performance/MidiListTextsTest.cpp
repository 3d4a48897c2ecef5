#include "performance/MidiListTexts.h"

#include <gtest/gtest.h>

namespace performance {
namespace {

struct NoteCase {
    BYTE note;
    const char* letter;
    const char* solfege;
    const char* value;
};

TEST(MidiRowTexts, NamesOctavesAndNumberFollowTheNote) {
    const NoteCase cases[] = {
        {0, "C-1", "DO-1", "0"},    {10, "A#-1", "LA#-1", "10"}, {11, "B-1", "SI-1", "11"},
        {12, "C0", "DO0", "12"},    {60, "C4", "DO4", "60"},     {66, "F#4", "FA#4", "66"},
        {68, "G#4", "SOL#4", "68"}, {127, "G9", "SOL9", "127"},
    };
    for (const NoteCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "note " << int(c.note));
        const MidiRowTexts texts = MakeMidiRowTexts(c.note, 64, 1);
        EXPECT_EQ(texts[0], "1");
        EXPECT_EQ(texts[1], c.letter);
        EXPECT_EQ(texts[2], c.solfege);
        EXPECT_EQ(texts[3], c.value);
    }
}

TEST(MidiRowTexts, VelocityBarHasOneGlyphPerTenthOf127) {
    const std::pair<BYTE, int> cases[] = {{0, 0}, {12, 0}, {13, 1}, {100, 7}, {126, 9}, {127, 10}};
    for (const auto& [velocity, glyphs] : cases) {
        SCOPED_TRACE(testing::Message() << "velocity " << int(velocity));
        const QString bar = MakeMidiRowTexts(60, velocity, 1)[4];
        EXPECT_EQ(bar, QString(glyphs, QChar(kVelocityGlyph)));
    }
}

TEST(MidiRowTexts, SourceTagIsWrittenInDecimalAndPicksTheRowColour) {
    struct SourceCase {
        int source;
        const char* text;
        QColor colour;
    };
    const SourceCase cases[] = {
        {0, "0", QColor(255, 0, 0)},    {1, "1", QColor(0, 255, 0)},
        {2, "2", QColor(255, 255, 0)},  {3, "3", QColor(127, 255, 255)},
        {4, "4", QColor(255, 128, 64)}, {5, "5", QColor(255, 0, 0)},
        {-1, "-1", QColor(255, 0, 0)},  {1000, "1000", QColor(255, 0, 0)},
    };
    for (const SourceCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "source " << c.source);
        const QString text = MakeMidiRowTexts(60, 127, c.source)[5];
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(SourceColor(SourceTagOfText(text)), c.colour);
    }
}

TEST(MidiRowTexts, HiddenCellIsReadLikeADecimalConversion) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},   {"abc", 0}, {"-", 0},  {"4", 4},
        {" 3", 3}, {"2x", 2},  {"+1", 1}, {"1234567891", 123456789},
    };
    for (const auto& [text, tag] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(SourceTagOfText(QString::fromLatin1(text)), tag);
    }
}

}  // namespace
}  // namespace performance
