#include "tests/support/music/FakeMusicSystem.h"

#include <gmock/gmock.h>

#include <thread>

#include "platform/music/ResultCodes.h"

namespace platform::music::fake {
namespace {

using ::testing::ElementsAre;

struct Opened {
    std::unique_ptr<IMusicPort> port;
    std::unique_ptr<IMusicBuffer> buffer;
};

Opened Open(IMusic& music, FakePort& which) {
    DMUS_PORTPARAMS8 params;
    params.dwSize = sizeof params;
    Opened o;
    EXPECT_EQ(music.CreatePort(which.Caps().guidPort, &params, &o.port), S_OK);
    DMUS_BUFFERDESC desc;
    desc.dwSize = sizeof desc;
    desc.cbBuffer = 56;
    EXPECT_EQ(music.CreateMusicBuffer(&desc, &o.buffer), S_OK);
    return o;
}

TEST(FakeMusicSystem, ScriptedFailuresHitOnlyTheirPortUntilCleared) {
    FakeMusicSystem system;
    auto& a = system.AddPort("A", DMUS_PC_OUTPUTCLASS).FailOn("Activate", DSERR_NODRIVER);
    auto& b = system.AddPort("B", DMUS_PC_OUTPUTCLASS);
    std::unique_ptr<IMusic> music;
    ASSERT_EQ(system.CreateMusic(&music), S_OK);
    Opened oa = Open(*music, a), ob = Open(*music, b);
    EXPECT_EQ(oa.port->Activate(TRUE), DSERR_NODRIVER);
    EXPECT_EQ(ob.port->Activate(TRUE), S_OK);
    EXPECT_FALSE(a.IsActive());
    EXPECT_TRUE(b.IsActive());
    a.ClearFailure("Activate");
    EXPECT_EQ(oa.port->Activate(TRUE), S_OK);

    system.FailOn("CreateMusic", E_FAIL);
    EXPECT_EQ(system.CreateMusic(&music), E_FAIL);
    EXPECT_EQ(system.Log().back(), "CreateMusic");
    EXPECT_NE(a.Caps().guidPort, b.Caps().guidPort);
    EXPECT_THROW(system.Port("C"), std::out_of_range);
}

// Two threads send on two ports while the test reads the records: run under TSan.
TEST(FakeMusicSystem, PortsCanBeUsedFromTwoThreads) {
    FakeMusicSystem system;
    auto& a = system.AddPort("A", DMUS_PC_OUTPUTCLASS);
    auto& b = system.AddPort("B", DMUS_PC_OUTPUTCLASS);
    std::unique_ptr<IMusic> music;
    ASSERT_EQ(system.CreateMusic(&music), S_OK);
    Opened oa = Open(*music, a), ob = Open(*music, b);
    constexpr int kSends = 200;
    auto send = [](Opened& o, DWORD msg) {
        for (int i = 0; i < kSends; ++i) {
            o.buffer->PackStructured(0, 0, msg);
            o.port->PlayBuffer(*o.buffer);
            o.buffer->Flush();
        }
    };
    std::thread ta(send, std::ref(oa), 0x007F3C90u);
    std::thread tb(send, std::ref(ob), 0x00003C80u);
    while (a.Played().size() < kSends / 2)
        std::this_thread::yield();
    ta.join();
    tb.join();
    EXPECT_EQ(a.Played(), std::vector<DWORD>(kSends, 0x007F3C90u));
    EXPECT_EQ(b.Played(), std::vector<DWORD>(kSends, 0x00003C80u));
    EXPECT_EQ(system.Log().size(),
              1u + 2u * 2u +
                  2u * 3u * kSends);  // CreateMusic, 2 x (CreatePort, CreateMusicBuffer), sends
}

TEST(FakeMusicSystem, ObjectsMayOutliveTheSystem) {
    std::unique_ptr<IMusic> music;
    Opened o;
    {
        FakeMusicSystem system;
        auto& a = system.AddPort("A", DMUS_PC_OUTPUTCLASS);
        ASSERT_EQ(system.CreateMusic(&music), S_OK);
        o = Open(*music, a);
    }
    EXPECT_EQ(o.port->Activate(TRUE), S_OK);
    o.port.reset();
}

}  // namespace
}  // namespace platform::music::fake
