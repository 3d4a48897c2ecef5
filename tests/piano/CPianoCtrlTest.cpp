// Keyboard layout, numbering, hit testing and key drawing of the piano control.
#include <gtest/gtest.h>

#include <QImage>

#include "piano/CPianoCtrl.h"
#include "piano/CPianoKey.h"

using piano::BYTE;
using piano::CPianoCtrl;
using piano::CPianoKey;
using piano::CPianoOctave;
using piano::kNoKey;

namespace {

class PianoCtrl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.BuildKeyboard(5, 5));
        control.SetFirstNote(36);
    }

    // Colour of a control point, read from the octave picture it falls in.
    QRgb PixelAt(int x, int y) const {
        const CPianoOctave* octave = control.GetOctave(x / control.GetOctaveWidth());
        return octave->GetPicture().pixel(x - octave->X(), y - octave->Y());
    }

    std::vector<QImage> Pictures() const {
        std::vector<QImage> pictures;
        for (int o = 0; o < control.GetOctaveCount(); ++o) {
            pictures.push_back(control.GetOctave(o)->GetPicture().copy());
        }
        return pictures;
    }

    CPianoCtrl control;
};

TEST_F(PianoCtrl, FiveOctavesOfUnitFive) {
    EXPECT_EQ(control.Width(), 770);
    EXPECT_EQ(control.Height(), 80);
    EXPECT_EQ(control.GetOctaveCount(), 5);
    EXPECT_EQ(control.GetOctaveWidth(), 154);
    EXPECT_EQ(control.GetKeyHeight(), 80);
    EXPECT_EQ(control.GetFirstNote(), 36);
    EXPECT_EQ(control.GetLastNote(), 95);
    for (int o = 0; o < 5; ++o) {
        EXPECT_EQ(control.GetOctave(o)->X(), 154 * o);
        EXPECT_EQ(control.GetOctave(o)->Y(), 0);
    }
    EXPECT_EQ(control.GetOctave(5), nullptr);
    EXPECT_EQ(control.GetOctave(-1), nullptr);
}

TEST_F(PianoCtrl, HitTestTable) {
    struct Probe {
        int x, y;
        BYTE note;
    };
    const Probe probes[] = {
        {0, 40, kNoKey},  {10, 0, kNoKey},    {10, 70, 36},      {21, 30, 37},
        {16, 30, kNoKey}, {17, 30, 37},       {26, 30, 37},      {27, 30, kNoKey},
        {28, 30, 38},     {21, 49, kNoKey},   {20, 50, 36},      {10, 79, 36},
        {10, 80, kNoKey}, {-5, 40, kNoKey},   {10, -1, kNoKey},  {154, 70, kNoKey},
        {160, 70, 48},    {768, 79, 95},      {769, 70, kNoKey}, {770, 70, kNoKey},
        {631, 30, 84},    {5000, 30, kNoKey},
    };
    for (const Probe& p : probes) {
        EXPECT_EQ(control.HitTest(p.x, p.y), p.note) << p.x << "," << p.y;
    }
}

TEST(PianoCtrlUnits, BorderPixelsHitNothingEvenWhereKeysTouchThem) {
    CPianoCtrl control;
    ASSERT_TRUE(control.BuildKeyboard(2, 2));
    control.SetFirstNote(36);
    EXPECT_EQ(control.Width(), 112);
    EXPECT_EQ(control.Height(), 32);
    // Unit 2 has no margins: C starts at x = 0, but the control's border column and row are out.
    EXPECT_EQ(control.HitTest(0, 25), kNoKey);
    EXPECT_EQ(control.HitTest(1, 25), 36);
    EXPECT_EQ(control.HitTest(1, 0), kNoKey);
    EXPECT_EQ(control.HitTest(56, 25), 48);  // octaves touch too
    EXPECT_EQ(control.HitTest(55, 25), 47);

    ASSERT_TRUE(control.BuildKeyboard(3, 4));
    control.SetFirstNote(36);
    EXPECT_EQ(control.Width(), 378);
    EXPECT_EQ(control.Height(), 64);
    EXPECT_EQ(control.HitTest(126 + 15, 20), 49);  // C# of the second octave, 8 × 39
    EXPECT_EQ(control.HitTest(126 + 15, 39), kNoKey);
}

TEST_F(PianoCtrl, SetFirstNoteRenumbersWithoutDrawing) {
    control.PressKey(40);  // E of the first octave
    const auto before = Pictures();
    control.SetFirstNote(60);
    EXPECT_EQ(control.GetFirstNote(), 60);
    EXPECT_EQ(control.GetLastNote(), 119);
    EXPECT_EQ(control.HitTest(10, 70), 60);
    EXPECT_EQ(control.HitTest(160, 70), 72);
    EXPECT_EQ(Pictures(), before);

    // The key that shows pressed is now note 64 and is released by that number.
    control.ReleaseKey(40);
    EXPECT_EQ(PixelAt(55, 70), CPianoKey::kWhitePressed);
    control.ReleaseKey(64);
    EXPECT_EQ(PixelAt(55, 70), CPianoKey::kWhiteReleased);

    control.SetFirstNote(72);
    EXPECT_EQ(control.GetLastNote(), 131);
    EXPECT_EQ(control.HitTest(4 * 154 + 10, 70), 120);
    EXPECT_EQ(control.HitTest(4 * 154 + 140, 70), 131);
}

TEST_F(PianoCtrl, PressAndReleaseDrawTheKeyColours) {
    struct Case {
        BYTE note;
        int x, y;  // a point of the key in control coordinates
        QRgb pressed, released;
    };
    const Case cases[] = {
        {36, 10, 30, CPianoKey::kWhitePressed, CPianoKey::kWhiteReleased},
        {36, 20, 70, CPianoKey::kWhitePressed, CPianoKey::kWhiteReleased},
        {37, 20, 30, CPianoKey::kBlackPressed, CPianoKey::kBlackReleased},
        {61, 2 * 154 + 20, 30, CPianoKey::kBlackPressed, CPianoKey::kBlackReleased},
        {95, 4 * 154 + 140, 70, CPianoKey::kWhitePressed, CPianoKey::kWhiteReleased},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        control.PressKey(c.note);
        EXPECT_EQ(PixelAt(c.x, c.y), c.pressed);
        control.PressKey(c.note);  // pressing again just draws again
        EXPECT_EQ(PixelAt(c.x, c.y), c.pressed);
        EXPECT_EQ(PixelAt(16, 30), CPianoOctave::kBackground);
        control.ReleaseKey(c.note);
        EXPECT_EQ(PixelAt(c.x, c.y), c.released);
    }
}

TEST_F(PianoCtrl, NotesOutsideTheKeyboardAreIgnored) {
    const auto before = Pictures();
    for (int note : {0, 35, 96, 254, 255}) {
        control.PressKey(static_cast<BYTE>(note));
    }
    EXPECT_EQ(Pictures(), before);
    control.SetFirstNote(60);
    control.PressKey(36);
    control.PressKey(59);
    EXPECT_EQ(Pictures(), before);
    control.PressKey(60);
    EXPECT_EQ(PixelAt(10, 30), CPianoKey::kWhitePressed);
}

TEST_F(PianoCtrl, PaintCopiesThePicturesAtTheirPlaces) {
    control.resize(control.sizeHint());
    control.PressKey(48);  // C of the second octave
    control.PressKey(85);  // C# of the fifth octave, at x = 633..642: clipped
    const QImage shown = control.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(632, 80));
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 632; ++x) {
            ASSERT_EQ(shown.pixel(x, y), PixelAt(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(shown.pixel(154 + 10, 30), CPianoKey::kWhitePressed);
}

TEST(PianoCtrlBuild, EmptyBeforeBuildKeyboard) {
    CPianoCtrl control;
    EXPECT_EQ(control.Width(), 0);
    EXPECT_EQ(control.GetOctaveCount(), 0);
    EXPECT_EQ(control.HitTest(10, 70), kNoKey);
    EXPECT_EQ(control.GetFirstNote(), 0);
    EXPECT_EQ(control.GetLastNote(), 0);
    control.PressKey(0);  // first and last note are both 0, but there is no octave
    control.ReleaseKey(0);
    control.SetFirstNote(36);
    EXPECT_EQ(control.GetLastNote(), 35);
    control.resize(control.sizeHint());
    EXPECT_FALSE(control.grab().isNull());
}

TEST(PianoCtrlBuild, KeysAreReleasedAndUnnumberedUntilSetFirstNote) {
    CPianoCtrl control;
    ASSERT_TRUE(control.BuildKeyboard(5, 5));
    EXPECT_EQ(control.GetOctave(0)->GetPicture().pixel(10, 30), CPianoKey::kWhiteReleased);
    EXPECT_EQ(control.GetOctave(4)->GetPicture().pixel(20, 30), CPianoKey::kBlackReleased);
    EXPECT_EQ(control.GetOctave(0)->GetPicture().pixel(0, 30), CPianoOctave::kBackground);
    EXPECT_EQ(control.HitTest(10, 70), 0);
}

TEST(PianoCtrlBuild, BadSizesFailAndLeaveTheKeyboardEmpty) {
    struct Case {
        int octaves, unit;
        bool built;
    };
    const Case cases[] = {
        {5, 5, true},   {0, 5, true},           {-1, 5, false},      {5, 0, false},
        {5, -3, false}, {1000000000, 5, false}, {1, 1 << 28, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.octaves << " octaves, unit " << c.unit);
        CPianoCtrl control;
        ASSERT_TRUE(control.BuildKeyboard(2, 5));
        control.SetFirstNote(36);
        EXPECT_EQ(control.BuildKeyboard(c.octaves, c.unit), c.built);
        if (!c.built) {
            EXPECT_EQ(control.GetOctaveCount(), 0);
            EXPECT_EQ(control.Width(), 0);
            EXPECT_EQ(control.Height(), 0);
            EXPECT_EQ(control.HitTest(10, 70), kNoKey);
            control.PressKey(40);
        }
    }
}

TEST(PianoCtrlBuild, RebuildWithFewerOctavesNeverDrawsOutsideThem) {
    CPianoCtrl control;
    ASSERT_TRUE(control.BuildKeyboard(5, 5));
    control.SetFirstNote(36);
    ASSERT_TRUE(control.BuildKeyboard(2, 5));
    EXPECT_EQ(control.GetLastNote(), 95);  // stale until the owner renumbers
    control.PressKey(90);
    control.ReleaseKey(95);
    control.SetFirstNote(36);
    EXPECT_EQ(control.GetLastNote(), 59);
    EXPECT_EQ(control.HitTest(10, 70), 36);
}

TEST(PianoCtrlWidget, TabStopAndSize) {
    CPianoCtrl control;
    EXPECT_EQ(control.focusPolicy(), Qt::TabFocus);
    EXPECT_EQ(control.sizeHint(), QSize(632, 80));
}

}  // namespace
