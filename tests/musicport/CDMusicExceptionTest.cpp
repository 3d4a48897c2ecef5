#include "musicport/CDMusicException.h"

#include <gtest/gtest.h>

#include <string>

#include "musicport/Utf8Text.h"
#include "platform/music/ResultCodes.h"

namespace musicport {
namespace {

namespace pm = platform::music;

TEST(CDMusicException, ReportForMinusOneIsExact) {
    const CDMusicException e("COutputPort::SendMidiMsg() short version", -1, 123);
    EXPECT_STREQ(e.GetErrorText(),
                 "DM_FAILED:: There has been an error during the \nobject initialization "
                 "sequence.\nThere is an internal member variable,\nsuch as an interface "
                 "pointer, that it is not assigned");
    EXPECT_EQ(std::string(e.GetReport()),
              "Error code: 0xffffffff \n" + std::string(e.GetErrorText()) +
                  "\nMember function: COutputPort::SendMidiMsg() short version \nLine: 123");
    EXPECT_STREQ(e.what(), e.GetReport());
    EXPECT_EQ(e.GetCode(), -1);
    EXPECT_EQ(e.GetLine(), 123);
}

TEST(CDMusicException, ReportNamesKnownAndUnknownCodes) {
    const CDMusicException known("CMidiPort::ActivatePort()", pm::DMUS_E_INVALIDPATCH, 7);
    EXPECT_STREQ(known.GetReport(),
                 "Error code: 0x88781114 \nDMUS_E_INVALIDPATCH: There is no instrument in the "
                 "collection that matches patch number\nMember function: "
                 "CMidiPort::ActivatePort() \nLine: 7");

    const CDMusicException unknown("X::Y()", pm::MakeResult(0x80001234), -5);
    EXPECT_STREQ(unknown.GetErrorText(), "Unknown: n/a");
    EXPECT_STREQ(unknown.GetReport(),
                 "Error code: 0x80001234 \nUnknown: n/a\nMember function: X::Y() \nLine: -5");

    const CDMusicException falseCode("X::Y()", pm::S_FALSE, 1);
    EXPECT_STREQ(falseCode.GetErrorText(), "S_FALSE: Call successful, but returned FALSE");
}

TEST(CDMusicException, LineComesFromTheThrowSite) {
    try {
        throw CDMusicException("X::Y()", pm::E_FAIL);
    } catch (const CDMusicException& e) {
        EXPECT_EQ(e.GetLine(), __LINE__ - 2);
    }
}

TEST(CDMusicException, OverlongLabelIsCutOnACharacterBoundary) {
    // 126 ASCII bytes, then a 2-byte character that would end at byte 128: it must go whole.
    const std::string label = std::string(126, 'a') + "\xC3\xA9" + "tail";
    const CDMusicException e(label, -1, 1);
    EXPECT_EQ(std::string(e.GetMemberFunction()), std::string(126, 'a'));

    // A label of exactly 127 bytes is kept whole.
    const std::string fits = std::string(124, 'b') + "\xE4\xB8\xAD";
    EXPECT_EQ(std::string(CDMusicException(fits, -1, 1).GetMemberFunction()), fits);

    const std::string report = e.GetReport();
    EXPECT_LT(report.size(), 512u);
    EXPECT_NE(report.find("Member function: " + std::string(126, 'a') + " \nLine: 1"),
              std::string::npos);
}

TEST(Utf8Text, CopyCutNeverOverflowsNorSplitsACharacter) {
    struct Case {
        std::string text;
        std::size_t size;
        std::string expected;
    };
    const std::string han = "\xE4\xB8\xAD";  // 3 bytes
    for (const Case& c :
         {Case{"abc", 4, "abc"}, Case{"abcd", 4, "abc"}, Case{"", 1, ""}, Case{"abc", 1, ""},
          Case{han + han, 6, han}, Case{han + han, 7, han + han}, Case{"a" + han, 3, "a"},
          Case{std::string(600, 'x'), 256, std::string(255, 'x')}}) {
        std::string target(c.size + 8, '#');
        CopyCut(std::span<char>(target.data(), c.size), c.text);
        EXPECT_EQ(std::string(target.c_str()), c.expected) << c.text.size() << "/" << c.size;
        EXPECT_EQ(target.substr(c.size), std::string(8, '#')) << "wrote past the field";
    }
}

}  // namespace
}  // namespace musicport
