// Loader, collection and instrument over the fake platform: labels, -1 rules, the codes the
// layer throws or returns, and downloads through the output port.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "musicport/CDLSLoader.h"
#include "tests/musicport/MusicPortFixture.h"

namespace musicport::test {
namespace {

using ::testing::ElementsAre;

class CCollectionTest : public MusicPortFixture {
protected:
    void SetUp() override {
        MusicPortFixture::SetUp();
        loader.Initialize();
        system.ClearLog();
    }
    CDLSLoader loader{system};
    CCollection collection;
    CInstrument instrument;
};

TEST_F(CCollectionTest, MissingObjectsThrowMinusOneWithTheirLabels) {
    CDLSLoader uninitialised(system);
    CCollection empty;
    CInstrument bare;
    InstrumentInfo info;
    struct Case {
        const char* label;
        std::function<void()> call;
    };
    const std::vector<Case> cases = {
        {"CDLSLoader::LoadDLS()", [&] { uninitialised.LoadDLS(nullptr, empty); }},
        {"CDLSLoader::SetSearchDirectory()", [&] { uninitialised.SetSearchDirectory("/", 0); }},
        {"CCollection::EnumIntrument()", [&] { empty.EnumInstrument(0, &info); }},
        {"CCollection::GetIntrument()/structure", [&] { empty.GetInstrument(bare, &info); }},
        {"CCollection::GetIntrument()/index", [&] { empty.GetInstrument(bare, 0); }},
        {"CInstrument::SetPach()", [&] { bare.SetPatch(1); }},
    };
    for (const Case& c : cases) {
        const Thrown thrown = Catch(c.call);
        EXPECT_EQ(thrown.code, -1) << c.label;
        EXPECT_EQ(thrown.label, c.label);
    }
    // These answer -1 without throwing.
    EXPECT_EQ(loader.UnloadCollection(empty), -1);
    EXPECT_EQ(uninitialised.UnloadCollection(empty), -1);
    EXPECT_EQ(port.UnloadInstrument(bare), -1);
    EXPECT_EQ(port.DownloadInstrument(bare), -1);  // port not active
    EXPECT_EQ(Catch([&] { loader.LoadDLSFromResource("gm", "DLS", collection); }).code, pm::E_FAIL);
}

TEST_F(CCollectionTest, EnumeratesByPositionAndLeavesTheRecordPastTheEnd) {
    loader.LoadDLS(nullptr, collection);
    InstrumentInfo info;
    ASSERT_EQ(collection.EnumInstrument(2, &info), pm::S_OK);
    EXPECT_STREQ(info.szInstName.data(), "Standard");
    EXPECT_EQ(info.dwPatchInCollection, 0x80000000u);
    EXPECT_EQ(collection.EnumInstrument(3, &info), pm::S_FALSE);
    EXPECT_STREQ(info.szInstName.data(), "Standard");

    system.FailOn("EnumInstrument", pm::E_OUTOFMEMORY);
    EXPECT_EQ(Catch([&] { collection.EnumInstrument(0, &info); }).code, pm::E_OUTOFMEMORY);
    system.FailOn("EnumInstrument", pm::DMUS_E_NOTADLSCOL);  // other failures are returned
    EXPECT_EQ(collection.EnumInstrument(0, &info), pm::DMUS_E_NOTADLSCOL);
}

TEST_F(CCollectionTest, LoadingAgainReleasesTheFirstCollection) {
    loader.LoadDLS(nullptr, collection);
    loader.LoadDLS("/tmp/other.dls", collection);
    EXPECT_THAT(system.Log(), ElementsAre("GetCollection(default)", "ReleaseObjectByUnknown",
                                          "GetCollection(file:/tmp/other.dls)"));
    system.FailOn("GetCollection", pm::DMUS_E_NOTADLSCOL);
    const Thrown thrown = Catch([&] { loader.LoadDLS("/tmp/bad.dls", collection); });
    EXPECT_EQ(thrown.code, pm::DMUS_E_NOTADLSCOL);
    EXPECT_EQ(thrown.label, "CDLSLoader::LoadDLS()");
    EXPECT_FALSE(collection.IsLoaded());
}

TEST_F(CCollectionTest, InstrumentDownloadsWithItsPatchAndUnloadsOnce) {
    Activate(1);
    loader.LoadDLS(nullptr, collection);
    collection.GetInstrument(instrument, 2);
    EXPECT_EQ(instrument.GetPatchInCollection(), 0x80000000u);
    EXPECT_STREQ(instrument.GetName(), "Standard");
    instrument.SetPatch(1);
    instrument.SetNoteRange(0, 127);
    EXPECT_EQ(port.DownloadInstrument(instrument), 0);
    EXPECT_THAT(system.Downloaded(), ElementsAre(1u));
    EXPECT_EQ(port.UnloadInstrument(instrument), 0);
    EXPECT_EQ(port.UnloadInstrument(instrument), -1);
    EXPECT_THAT(system.Downloaded(), ::testing::IsEmpty());

    // Past the end by position: no instrument to take.
    EXPECT_EQ(Catch([&] { collection.GetInstrument(instrument, 9); }).code,
              pm::DMUS_E_INVALIDPATCH);
    // A port without downloads says so.
    port.DeactivatePort();
    Activate(2);
    collection.GetInstrument(instrument, 0);
    const Thrown thrown = Catch([&] { port.DownloadInstrument(instrument); });
    EXPECT_EQ(thrown.code, pm::E_NOINTERFACE);
    EXPECT_EQ(thrown.label, "COutputPort::DownloadInstrument(CInstrument)");
}

TEST_F(CCollectionTest, DestructorUnloadsFromThePortItWasDownloadedTo) {
    Activate(1);
    loader.LoadDLS(nullptr, collection);
    {
        CInstrument scoped;
        collection.GetInstrument(scoped, 0);
        port.DownloadInstrument(scoped);
        EXPECT_EQ(system.Downloaded().size(), 1u);
    }
    EXPECT_TRUE(system.Downloaded().empty());
}

}  // namespace
}  // namespace musicport::test
