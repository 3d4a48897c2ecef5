#include "platform/music/MusicObject.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/music/ErrorText.h"
#include "platform/music/ResultCodes.h"

namespace platform::music {
namespace {

// A backend that lists fixed ports and records which of them it opened.
class ListBackend final : public IPortBackend {
public:
    explicit ListBackend(std::vector<DWORD> ids) : ids_(std::move(ids)) {}

    void ListPorts(std::vector<DMUS_PORTCAPS>& ports) override {
        ++listed;
        for (const DWORD id : ids_) {
            DMUS_PORTCAPS caps;
            caps.guidPort.data1 = id;
            caps.dwClass = id % 2;
            ports.push_back(caps);
        }
    }
    HRESULT CreatePort(const GUID& guid, DMUS_PORTPARAMS8*, std::unique_ptr<IMusicPort>*) override {
        opened.push_back(guid.data1);
        return S_OK;
    }

    int listed = 0;
    std::vector<DWORD> opened;

private:
    std::vector<DWORD> ids_;
};

struct Backends {
    Backends() {
        auto a = std::make_unique<ListBackend>(std::vector<DWORD>{1, 2});
        auto b = std::make_unique<ListBackend>(std::vector<DWORD>{3});
        first = a.get();
        second = b.get();
        std::vector<std::unique_ptr<IPortBackend>> table;
        table.push_back(std::move(a));
        table.push_back(std::move(b));
        music = std::make_unique<MusicObject>(std::move(table));
    }
    ListBackend* first;
    ListBackend* second;
    std::unique_ptr<MusicObject> music;
};

TEST(MusicObject, NumbersPortsAcrossBackendsInTableOrder) {
    Backends b;
    DMUS_PORTCAPS caps;
    caps.dwSize = sizeof caps;
    std::vector<DWORD> seen;
    for (DWORD i = 0; b.music->EnumPort(i, &caps) == S_OK; ++i) {
        seen.push_back(caps.guidPort.data1);
        EXPECT_EQ(caps.dwSize, sizeof(DMUS_PORTCAPS));
    }
    EXPECT_EQ(seen, (std::vector<DWORD>{1, 2, 3}));
    EXPECT_EQ(b.music->EnumPort(3, &caps), S_FALSE);
    EXPECT_EQ(b.first->listed, 1);  // listed anew only from index 0

    caps.dwSize = 0;
    EXPECT_EQ(b.music->EnumPort(0, &caps), E_INVALIDARG);
    EXPECT_EQ(b.music->EnumPort(0, nullptr), E_POINTER);
}

TEST(MusicObject, CreatePortGoesToTheBackendThatListedIt) {
    Backends b;
    DMUS_PORTPARAMS8 params;
    params.dwSize = sizeof params;
    std::unique_ptr<IMusicPort> port;
    GUID guid;
    guid.data1 = 3;
    EXPECT_EQ(b.music->CreatePort(guid, &params, &port), S_OK);  // lists on demand
    guid.data1 = 1;
    EXPECT_EQ(b.music->CreatePort(guid, &params, &port), S_OK);
    EXPECT_EQ(b.second->opened, (std::vector<DWORD>{3}));
    EXPECT_EQ(b.first->opened, (std::vector<DWORD>{1}));
    guid.data1 = 9;
    EXPECT_EQ(b.music->CreatePort(guid, &params, &port), E_INVALIDARG);
    params.dwSize = 0;
    EXPECT_EQ(b.music->CreatePort(guid, &params, &port), E_INVALIDARG);
}

TEST(MusicObject, SoundObjectIsSetOnceAndBuffersNeedASize) {
    Backends b;
    int external = 0;
    EXPECT_EQ(b.music->SetDirectSound(&external, nullptr), E_NOTIMPL);
    EXPECT_EQ(b.music->SetDirectSound(nullptr, nullptr), S_OK);
    EXPECT_EQ(b.music->SetDirectSound(nullptr, nullptr), DMUS_E_DSOUND_ALREADY_SET);

    DMUS_BUFFERDESC desc;
    desc.dwSize = sizeof desc;
    desc.cbBuffer = 56;
    std::unique_ptr<IMusicBuffer> buffer;
    ASSERT_EQ(b.music->CreateMusicBuffer(&desc, &buffer), S_OK);
    EXPECT_EQ(buffer->GetMaxBytes(), 56u);
    desc.cbBuffer = 0;
    EXPECT_EQ(b.music->CreateMusicBuffer(&desc, &buffer), E_INVALIDARG);
}

TEST(ErrorText, NamesKnownCodesAndFallsBackForOthers) {
    struct Case {
        HRESULT code;
        std::string_view name;
    };
    for (const Case& c :
         {Case{DMUS_E_UNKNOWN_PROPERTY, "DMUS_E_UNKNOWN_PROPERTY"},
          Case{E_OUTOFMEMORY, "E_OUTOFMEMORY"}, Case{DSERR_NODRIVER, "DSERR_NODRIVER"},
          Case{S_FALSE, "S_FALSE"}, Case{-1, "Unknown"}, Case{MakeResult(0x88781999), "Unknown"}}) {
        const ResultText text = DescribeResult(c.code);
        EXPECT_EQ(text.name, c.name);
        EXPECT_FALSE(text.description.empty());
    }
    EXPECT_EQ(DescribeResult(-1).description, "n/a");
}

}  // namespace
}  // namespace platform::music
