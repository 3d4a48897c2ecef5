#include "musicport/CMasterClock.h"

#include <gmock/gmock.h>

#include "MusicPortFixture.h"

namespace musicport::test {
namespace {

using ::testing::ElementsAre;

class MasterClock : public MusicPortFixture {
protected:
    void SetUp() override {
        system.AddClock("System", pm::DMUS_CLOCK_SYSTEM, 111)
            .AddClock("Wave", pm::DMUS_CLOCK_WAVE, 222);
        MusicPortFixture::SetUp();
        clock.Initialize(music);
    }
    CMasterClock clock;
};

TEST_F(MasterClock, ListsDescribesAndActivatesClocks) {
    EXPECT_EQ(clock.GetNumClocks(), 2u);
    EXPECT_THAT(system.Log(),
                ElementsAre("EnumMasterClock(0)", "EnumMasterClock(1)", "EnumMasterClock(2)"));

    ClockInfo info;
    ASSERT_EQ(clock.GetClockInfo(2, &info), pm::S_OK);
    EXPECT_EQ(info.ctType, pm::DMUS_CLOCK_WAVE);
    EXPECT_EQ(info.guidClock, system.ClockGuid("Wave"));
    EXPECT_STREQ(info.szClockDescription.data(), "Wave");
    EXPECT_EQ(info.dwFlags, pm::DMUS_CLOCKF_GLOBAL);

    // Numbers are 1-based; past the end the record stays as it was.
    for (const DWORD number : {0u, 3u}) {
        ClockInfo untouched;
        untouched.dwFlags = 77;
        EXPECT_EQ(clock.GetClockInfo(number, &untouched), pm::S_FALSE);
        EXPECT_EQ(untouched.dwFlags, 77u);
    }

    EXPECT_EQ(clock.GetReferenceClock(), nullptr);
    system.ClearLog();
    ASSERT_EQ(clock.ActivateMasterClock(&info), 0);
    EXPECT_THAT(system.Log(), ElementsAre("SetMasterClock(Wave)", "GetMasterClock"));
    ASSERT_NE(clock.GetReferenceClock(), nullptr);
    pm::REFERENCE_TIME now = 0;
    EXPECT_EQ(clock.GetReferenceClock()->GetTime(&now), pm::S_OK);
    EXPECT_EQ(now, 222);
    clock.ReleaseMasterClock();
    EXPECT_EQ(clock.GetReferenceClock(), nullptr);
}

TEST_F(MasterClock, LongDescriptionsAreCutToTheRecord) {
    system.AddClock(std::string(200, 'x'), pm::DMUS_CLOCK_SYSTEM);
    ClockInfo info;
    ASSERT_EQ(clock.GetClockInfo(3, &info), pm::S_OK);
    EXPECT_EQ(std::string(info.szClockDescription.data()), std::string(127, 'x'));
}

TEST_F(MasterClock, FailuresThrowWithTheirLabels) {
    ClockInfo info;
    clock.GetClockInfo(1, &info);
    CMasterClock unbound;
    struct Case {
        const char* name;
        HRESULT code;
        const char* label;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"GetNumClocks unbound", -1, "CMasterClock::GetNumClocks()",
         [&] { unbound.GetNumClocks(); }},
        {"GetClockInfo unbound", -1, "CMasterClock::GetClockInfo()",
         [&] { unbound.GetClockInfo(1, &info); }},
        {"GetClockInfo null", -1, "CMasterClock::GetClockInfo()",
         [&] { clock.GetClockInfo(1, nullptr); }},
        {"Activate unbound", -1, "CMasterClock::ActivateMasterClock()",
         [&] { unbound.ActivateMasterClock(&info); }},
        {"Activate null", -1, "CMasterClock::ActivateMasterClock()",
         [&] { clock.ActivateMasterClock(nullptr); }},
        {"EnumMasterClock", pm::E_OUTOFMEMORY, "CMasterClock::GetNumClocks()",
         [&] { clock.GetNumClocks(); }},
        {"EnumMasterClock", pm::E_OUTOFMEMORY, "CMasterClock::GetClockInfo()",
         [&] { clock.GetClockInfo(1, &info); }},
        {"SetMasterClock", pm::DMUS_E_PORTS_OPEN, "CMasterClock::ActivateMasterClock()",
         [&] { clock.ActivateMasterClock(&info); }},
        {"GetMasterClock", pm::E_FAIL, "CMasterClock::ActivateMasterClock()",
         [&] { clock.ActivateMasterClock(&info); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.code != -1)
            system.FailOn(c.name, c.code);
        const Thrown thrown = Catch(c.call);
        EXPECT_EQ(thrown.code, c.code);
        EXPECT_EQ(thrown.label, c.label);
        system.ClearFailure(c.name);
    }
    EXPECT_EQ(clock.GetReferenceClock(), nullptr);
    CDirectMusic uninitialised(system);
    EXPECT_EQ(Catch([&] { unbound.Initialize(uninitialised); }).label,
              "CMasterClock::Initialize()");
    // An unknown clock is refused by the platform.
    ClockInfo unknown;
    EXPECT_EQ(Catch([&] { clock.ActivateMasterClock(&unknown); }).code, pm::E_INVALIDARG);
}

}  // namespace
}  // namespace musicport::test
