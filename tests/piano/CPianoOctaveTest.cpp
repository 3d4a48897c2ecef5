// Key shapes, positions, colours and hit testing of one octave, for the unit sizes in use.
#include <gtest/gtest.h>

#include <array>
#include <map>

#include <QImage>
#include <QWidget>

#include "piano/CPianoCtrl.h"
#include "piano/CPianoOctave.h"

using piano::BYTE;
using piano::CPianoKey;
using piano::CPianoOctave;
using piano::kNoKey;

namespace {

struct UnitCase {
    int unit;
    int octaveWidth;
    int keyHeight;
    int blackHeight;
    std::array<int, 12> keyX;
};

const UnitCase kUnits[] = {
    {5, 154, 80, 49, {1, 17, 23, 39, 45, 67, 83, 89, 105, 111, 127, 133}},
    {4, 126, 64, 39, {1, 14, 19, 32, 37, 55, 68, 73, 86, 91, 104, 109}},
    // s = 0: white keys touch and black keys touch their neighbours' upper parts.
    {2, 56, 32, 20, {0, 6, 8, 14, 16, 24, 30, 32, 38, 40, 46, 48}},
};

constexpr std::array<char, 12> kShapes{'A', 'D', 'B', 'D', 'C', 'A', 'D', 'B', 'D', 'B', 'D', 'C'};

class OctaveGeometry : public ::testing::TestWithParam<UnitCase> {
protected:
    void SetUp() override {
        const UnitCase& c = GetParam();
        ASSERT_TRUE(octave.Build(0, 0, c.unit, c.octaveWidth, c.keyHeight));
        octave.SetNotes(36);
        octave.ReleaseAll();
    }

    CPianoOctave octave;
};

TEST_P(OctaveGeometry, KeysSitAtTheirPlacesWithTheirShapes) {
    const UnitCase& c = GetParam();
    const int u = c.unit;
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        const CPianoKey& key = octave.GetKey(i);
        const int x = c.keyX[static_cast<std::size_t>(i)];
        EXPECT_EQ(key.X(), x);
        EXPECT_EQ(key.GetShape(), kShapes[static_cast<std::size_t>(i)]);
        EXPECT_EQ(key.GetNote(), 36 + i);
        if (key.IsBlack()) {
            EXPECT_EQ(key.GetUpperRect(), QRect(x, 0, 2 * u, c.blackHeight));
            EXPECT_TRUE(key.GetLowerRect().isEmpty());
        } else {
            EXPECT_EQ(key.GetLowerRect(), QRect(x, 10 * u, 4 * u, 6 * u));
            EXPECT_EQ(key.GetUpperRect().top(), 0);
            EXPECT_EQ(key.GetUpperRect().height(), 10 * u);
        }
    }
}

// Every pixel: the picture's colour and the hit test must tell the same story, the keys must
// not overlap, and each key covers exactly its area.
TEST_P(OctaveGeometry, PictureAndHitTestAgreeOnEveryPixel) {
    const UnitCase& c = GetParam();
    const int u = c.unit;
    const QImage& picture = octave.GetPicture();
    ASSERT_EQ(picture.size(), QSize(c.octaveWidth, c.keyHeight));
    std::map<BYTE, int> area;
    for (int y = 0; y < c.keyHeight; ++y) {
        for (int x = 0; x < c.octaveWidth; ++x) {
            const BYTE note = octave.HitTest(x, y);
            const QRgb pixel = picture.pixel(x, y);
            int owners = 0;
            for (int i = 0; i < 12; ++i) {
                owners += octave.GetKey(i).HitTest(x, y) != kNoKey ? 1 : 0;
            }
            ASSERT_LE(owners, 1) << x << "," << y;
            if (note == kNoKey) {
                ASSERT_EQ(pixel, CPianoOctave::kBackground) << x << "," << y;
                continue;
            }
            ++area[note];
            const bool black = octave.GetKey(note - 36).IsBlack();
            ASSERT_EQ(pixel, black ? CPianoKey::kBlackReleased : CPianoKey::kWhiteReleased)
                << x << "," << y;
        }
    }
    ASSERT_EQ(area.size(), 12u);
    const int whiteArea = 4 * u * 6 * u;
    const std::array<int, 3> upperWidths{3 * u, 2 * u, 3 * u};  // 'A', 'B', 'C'
    for (int i = 0; i < 12; ++i) {
        const char shape = kShapes[static_cast<std::size_t>(i)];
        const int expected =
            shape == 'D' ? 2 * u * c.blackHeight : whiteArea + upperWidths[shape - 'A'] * 10 * u;
        EXPECT_EQ(area[static_cast<BYTE>(36 + i)], expected) << "key " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Units, OctaveGeometry, ::testing::ValuesIn(kUnits),
                         [](const auto& info) { return "Unit" + std::to_string(info.param.unit); });

TEST(CPianoOctave, UnitFiveRectanglesAndGaps) {
    CPianoOctave octave;
    ASSERT_TRUE(octave.Build(0, 0, 5, 154, 80));
    octave.SetNotes(36);
    EXPECT_EQ(octave.GetKey(0).GetUpperRect(), QRect(QPoint(1, 0), QPoint(15, 49)));
    EXPECT_EQ(octave.GetKey(0).GetLowerRect(), QRect(QPoint(1, 50), QPoint(20, 79)));
    EXPECT_EQ(octave.GetKey(1).GetUpperRect(), QRect(QPoint(17, 0), QPoint(26, 48)));

    struct Probe {
        int x, y;
        BYTE note;
    };
    const Probe probes[] = {
        {16, 30, kNoKey},  // between C and C#
        {21, 49, kNoKey},  // below C#, above C's lower part
        {20, 50, 36},     {15, 0, 36},      {1, 79, 36},  {0, 60, kNoKey},   {21, 60, kNoKey},
        {22, 60, kNoKey},  // 2-pixel gap between the lower parts of C and D
        {23, 60, 38},     {27, 30, kNoKey}, {28, 30, 38}, {153, 70, kNoKey}, {152, 70, 47},
    };
    for (const Probe& p : probes) {
        EXPECT_EQ(octave.HitTest(p.x, p.y), p.note) << p.x << "," << p.y;
    }
}

TEST(CPianoOctave, HitTestTakesControlCoordinates) {
    CPianoOctave octave;
    ASSERT_TRUE(octave.Build(154, 0, 5, 154, 80));
    octave.SetNotes(48);
    EXPECT_EQ(octave.HitTest(154 + 10, 70), 48);
    EXPECT_EQ(octave.HitTest(10, 70), kNoKey);
}

TEST(CPianoOctave, NumberingWrapsModulo256) {
    CPianoOctave octave;
    ASSERT_TRUE(octave.Build(0, 0, 5, 154, 80));
    octave.SetNotes(72 + 48);  // fifth octave of a keyboard starting at 72
    EXPECT_EQ(octave.GetKey(0).GetNote(), 120);
    EXPECT_EQ(octave.GetKey(11).GetNote(), 131);
    octave.SetNotes(250);
    EXPECT_EQ(octave.GetKey(5).GetNote(), 255);
    EXPECT_EQ(octave.GetKey(6).GetNote(), 0);
    EXPECT_EQ(octave.GetKey(11).GetNote(), 5);
}

TEST(CPianoOctave, PressAndReleaseRepaintOnlyTheKey) {
    QWidget parent;
    piano::CPianoCtrl control(&parent);
    CPianoOctave octave;
    ASSERT_TRUE(octave.Build(0, 0, 5, 154, 80));
    octave.ReleaseAll();
    const QImage released = octave.GetPicture().copy();

    octave.Press(0, control);  // C: white
    octave.Press(1, control);  // C#: black
    const QImage& picture = octave.GetPicture();
    EXPECT_EQ(picture.pixel(10, 30), CPianoKey::kWhitePressed);
    EXPECT_EQ(picture.pixel(20, 70), CPianoKey::kWhitePressed);
    EXPECT_EQ(picture.pixel(20, 30), CPianoKey::kBlackPressed);
    EXPECT_EQ(picture.pixel(16, 30), CPianoOctave::kBackground);
    EXPECT_EQ(picture.pixel(21, 49), CPianoOctave::kBackground);
    EXPECT_EQ(picture.pixel(30, 70), CPianoKey::kWhiteReleased);  // D untouched

    octave.Release(0, control);
    octave.Release(1, control);
    EXPECT_EQ(octave.GetPicture(), released);
}

}  // namespace
