#include "musicport/CSampleInstrument.h"

#include <gmock/gmock.h>

#include <cstring>
#include <filesystem>

#include "MusicPortFixture.h"
#include "musicport/CWaveFileLoader.h"
#include "musicport/UnitConversions.h"
#include "tests/musicport/WaveFixtures.h"

namespace musicport::test {
namespace {

using ::testing::ElementsAre;
using namespace tests::wave;

template <typename T>
T At(const std::vector<BYTE>& bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

class SampleInstrument : public MusicPortFixture {
protected:
    void SetUp() override {
        MusicPortFixture::SetUp();
        format = Pcm(1, 8000, 16);
        data = Sine16(440, 8000, 0.01);  // 80 frames, 160 bytes
    }

    // A complete instrument on the caller's wave.
    void Fill(CSampleInstrument& instrument) {
        instrument.SetWaveForm(data.data(), &format, DWORD(data.size()));
        instrument.SetPatch(0x00020105);
        const SampleRegion region{{36, 84}, {1, 127}};
        instrument.SetRegion(&region);
        instrument.SetLoop(1);
        instrument.SetWaveParams(-65536 * 60, -12, 69, 0);
        pm::DMUS_ARTICPARAMS art;
        art.VolEG.tcAttack = TimeCents(0.01);
        art.VolEG.ptSustain = PercentUnits(100);
        art.Misc.ptDefaultPan = -250 * 65536;
        instrument.SetArticulationParams(&art);
    }

    pm::WAVEFORMATEX format;
    Bytes data;
};

// Every operation refuses a missing argument, buffer, wave or download interface with -1
// and its own label.
TEST_F(SampleInstrument, PreconditionsThrowMinusOneWithTheirLabels) {
    CSampleInstrument empty;
    CSampleInstrument filled;
    Fill(filled);
    CSampleInstrument allocated;
    Fill(allocated);
    Activate(1);
    port.AllocateMemory(allocated);
    DWORD size = 0;
    pm::WAVEFORMATEX f;
    struct Case {
        const char* label;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"CSampleInstrument::SetWaveForm()", [&] { empty.SetWaveForm(nullptr, &format, 4); }},
        {"CSampleInstrument::SetWaveForm()", [&] { empty.SetWaveForm(data.data(), nullptr, 4); }},
        {"CSampleInstrument::GetWaveForm()", [&] { empty.GetWaveForm(nullptr, nullptr, &size); }},
        {"CSampleInstrument::GetWaveForm()", [&] { empty.GetWaveForm(nullptr, &f, nullptr); }},
        {"CSampleInstrument::SetRegion()", [&] { empty.SetRegion(nullptr); }},
        {"CSampleInstrument::GetRegion()", [&] { empty.GetRegion(nullptr); }},
        {"CSampleInstrument::SetArticulationParams()",
         [&] { empty.SetArticulationParams(nullptr); }},
        {"CSampleInstrument::SetArticulationParams()",
         [&] { empty.GetArticulationParams(nullptr); }},
        {"CSampleInstrument::AllocateInstBuffer()", [&] { filled.AllocateInstBuffer(); }},
        {"CSampleInstrument::AllocateWaveBuffer()", [&] { filled.AllocateWaveBuffer(0); }},
        {"CSampleInstrument::GetWaveBuffer()", [&] { filled.GetWaveBuffer(1); }},
        {"CSampleInstrument::GetInstBuffer()", [&] { filled.GetInstBuffer(1); }},
        {"COutputPort::AllocateMemory()", [&] { port.AllocateMemory(empty); }},      // no wave
        {"COutputPort::AllocateMemory()", [&] { port.AllocateMemory(allocated); }},  // twice
        {"COutputPort::DownloadInstrument(CSampleInstrument)",
         [&] { port.DownloadInstrument(filled); }},
        {"COutputPort::UnloadInstrument(CSampleInstrument)",
         [&] { port.UnloadInstrument(filled); }},
        {"COutputPort::DeallocateMemory()", [&] { port.DeallocateMemory(filled); }},
        {"CDLSLoader::LoadWaveFile()", [&] { CWaveFileLoader::LoadWaveFile(nullptr, empty, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Thrown thrown = Catch(c.call);
        EXPECT_EQ(thrown.code, -1);
        EXPECT_EQ(thrown.label, c.label);
    }

    // Ports without sample memory: an external port, and no port at all.
    port.DeactivatePort();
    for (const bool external : {true, false}) {
        if (external)
            Activate(2);
        const Thrown thrown = Catch([&] { port.AllocateMemory(filled); });
        EXPECT_EQ(thrown.code, -1);
        EXPECT_EQ(thrown.label, "COutputPort::AllocateMemory()");
        port.DeactivatePort();
    }
}

// The two buffers hold the download records at their places, filled from the instrument.
TEST_F(SampleInstrument, AllocateMemoryFillsBothDownloadRecords) {
    CSampleInstrument instrument;
    Fill(instrument);
    Activate(1);
    system.ClearLog();
    ASSERT_EQ(port.AllocateMemory(instrument), 0);
    ASSERT_EQ(port.DownloadInstrument(instrument), 0);
    // 4 appended frames of 2 bytes, 160 data bytes and 64 bytes of records.
    EXPECT_THAT(system.Log(),
                ElementsAre("GetDLId(Synth,2)", "AllocateBuffer(Synth,216)", "GetAppend(Synth)",
                            "AllocateBuffer(Synth,232)", "Download(Synth,wave,1)",
                            "Download(Synth,instrument,2)"));
    const auto downloaded = synth.Downloaded();
    ASSERT_EQ(downloaded.size(), 2u);

    const auto& wave = downloaded[0];
    EXPECT_EQ(At<pm::DMUS_DOWNLOADINFO>(wave, 0).dwNumOffsetTableEntries, 2u);
    EXPECT_EQ(At<pm::DMUS_DOWNLOADINFO>(wave, 0).cbSize, 232u);
    EXPECT_EQ(At<DWORD>(wave, 16), 24u);
    EXPECT_EQ(At<DWORD>(wave, 20), 56u);
    EXPECT_EQ(At<pm::DMUS_WAVE_HEADER>(wave, 24).ulWaveDataIdx, 1u);
    EXPECT_EQ(At<WORD>(wave, 36), pm::WAVE_FORMAT_PCM);
    EXPECT_EQ(At<WORD>(wave, 38), 1);
    EXPECT_EQ(At<DWORD>(wave, 40), 8000u);
    EXPECT_EQ(At<WORD>(wave, 48), 2);   // block align
    EXPECT_EQ(At<WORD>(wave, 50), 16);  // bits
    EXPECT_EQ(At<DWORD>(wave, 56), 160u);
    EXPECT_EQ(std::vector<BYTE>(wave.begin() + 60, wave.begin() + 220), data);

    const auto& inst = downloaded[1];
    ASSERT_EQ(inst.size(), 216u);
    EXPECT_EQ(At<pm::DMUS_DOWNLOADINFO>(inst, 0).dwDLType, pm::DMUS_DOWNLOADINFO_INSTRUMENT);
    EXPECT_EQ(At<pm::DMUS_DOWNLOADINFO>(inst, 0).dwNumOffsetTableEntries, 4u);
    EXPECT_EQ(At<DWORD>(inst, 16), 32u);
    EXPECT_EQ(At<DWORD>(inst, 20), 56u);
    EXPECT_EQ(At<DWORD>(inst, 24), 128u);
    EXPECT_EQ(At<DWORD>(inst, 28), 136u);
    const auto record = At<pm::DMUS_INSTRUMENT>(inst, 32);
    EXPECT_EQ(record.ulPatch, 0x00020105u);
    EXPECT_EQ(record.ulFirstRegionIdx, 1u);
    EXPECT_EQ(record.ulGlobalArtIdx, 2u);
    const auto region = At<pm::DMUS_REGION>(inst, 56);
    EXPECT_EQ(region.RangeKey.usLow, 36);
    EXPECT_EQ(region.RangeKey.usHigh, 84);
    EXPECT_EQ(region.RangeVelocity.usLow, 1);
    EXPECT_EQ(region.fusOptions, pm::F_RGN_OPTION_SELFNONEXCLUSIVE);
    EXPECT_EQ(region.WaveLink.ulChannel, 1u);
    EXPECT_EQ(region.WaveLink.ulTableIndex, 1u);  // the wave's id
    EXPECT_EQ(region.WSMP.cbSize, 20u);
    EXPECT_EQ(region.WSMP.usUnityNote, 69);
    EXPECT_EQ(region.WSMP.sFineTune, -12);
    EXPECT_EQ(region.WSMP.lAttenuation, -65536 * 60);
    EXPECT_EQ(region.WSMP.cSampleLoops, 1u);
    EXPECT_EQ(region.Loops[0].cbSize, 16u);
    EXPECT_EQ(region.Loops[0].ulLength, 80u);  // frames
    EXPECT_EQ(At<pm::DMUS_ARTICULATION>(inst, 128).ulArt1Idx, 3u);
    const auto art = At<pm::DMUS_ARTICPARAMS>(inst, 136);
    EXPECT_EQ(art.VolEG.tcAttack, TimeCents(0.01));
    EXPECT_EQ(art.Misc.ptDefaultPan, -250 * 65536);

    // One-shot: no loop entry counted, the loop record still describes the whole wave.
    CSampleInstrument oneShot;
    Fill(oneShot);
    oneShot.SetLoop(0);
    ASSERT_EQ(port.AllocateMemory(oneShot), 0);
    ASSERT_EQ(port.DownloadInstrument(oneShot), 0);
    EXPECT_EQ(At<pm::DMUS_REGION>(synth.Downloaded().back(), 56).WSMP.cSampleLoops, 0u);
}

TEST_F(SampleInstrument, UnloadDeallocateAndDestructionGiveEverythingBack) {
    Activate(1);
    {
        CSampleInstrument instrument;
        Fill(instrument);
        port.AllocateMemory(instrument);
        port.DownloadInstrument(instrument);
        system.ClearLog();
        EXPECT_EQ(port.UnloadInstrument(instrument), 0);
        EXPECT_THAT(system.Log(),
                    ElementsAre("Unload(Synth,wave,1)", "Unload(Synth,instrument,2)"));
        EXPECT_TRUE(synth.Downloaded().empty());
        port.DownloadInstrument(instrument);  // downloaded again from the same buffers
        system.ClearLog();
    }  // the destructor unloads
    EXPECT_THAT(system.Log(), ElementsAre("Unload(Synth,wave,1)", "Unload(Synth,instrument,2)"));
    EXPECT_TRUE(synth.Downloaded().empty());

    CSampleInstrument instrument;
    Fill(instrument);
    port.AllocateMemory(instrument);
    EXPECT_EQ(port.DeallocateMemory(instrument), 0);
    EXPECT_EQ(Catch([&] { port.DownloadInstrument(instrument); }).code, -1);
    EXPECT_EQ(port.AllocateMemory(instrument), 0);  // buffers can be had again

    // An instrument that outlives its port's activation neither crashes nor calls the
    // released interface.
    {
        CSampleInstrument outliving;
        Fill(outliving);
        port.AllocateMemory(outliving);
        port.DownloadInstrument(outliving);
        port.DeactivatePort();
        system.ClearLog();
    }
    EXPECT_THAT(system.Log(), ::testing::IsEmpty());  // no Unload on the released port
}

TEST_F(SampleInstrument, PlatformFailuresAreThrownUnchanged) {
    Activate(1);
    struct Case {
        const char* call;
        const char* label;
    };
    for (const Case c : {Case{"GetDLId", "COutputPort::AllocateMemory()"},
                         Case{"AllocateBuffer", "CSampleInstrument::AllocateInstBuffer()"},
                         Case{"GetAppend", "COutputPort::AllocateMemory()"},
                         Case{"Download", "COutputPort::DownloadInstrument(CSampleInstrument)"},
                         Case{"Unload", "COutputPort::UnloadInstrument(CSampleInstrument)"}}) {
        SCOPED_TRACE(c.call);
        CSampleInstrument instrument;
        Fill(instrument);
        synth.FailOn(c.call, pm::E_OUTOFMEMORY);
        const Thrown thrown = Catch([&] {
            port.AllocateMemory(instrument);
            port.DownloadInstrument(instrument);
            port.UnloadInstrument(instrument);
        });
        EXPECT_EQ(thrown.code, pm::E_OUTOFMEMORY);
        EXPECT_EQ(thrown.label, c.label);
        synth.ClearFailure(c.call);
        // A failed allocation leaves no half-filled buffers behind.
        if (std::string(c.label).find("Allocate") != std::string::npos) {
            EXPECT_EQ(port.AllocateMemory(instrument), 0);
        }
    }
    // A failed instrument download takes its wave back out.
    CSampleInstrument instrument;
    Fill(instrument);
    port.AllocateMemory(instrument);
    synth.FailOn("Download", pm::DMUS_E_BADINSTRUMENT);
    system.ClearLog();
    EXPECT_EQ(Catch([&] { port.DownloadInstrument(instrument); }).code, pm::DMUS_E_BADINSTRUMENT);
    EXPECT_TRUE(synth.Downloaded().empty());
}

TEST_F(SampleInstrument, WaveFilesLoadIntoMemoryOrAreReadAtAllocation) {
    ScratchDir dir("sample-instrument");
    const std::string path = dir.File("tone.wav");
    WriteFile(path, Riff({Chunk("fmt ", Fmt(1, 1, 8000, 16)), Chunk("data", data)}));
    Activate(1);
    for (const DWORD fromFile : {0u, 1u}) {
        SCOPED_TRACE(fromFile);
        CSampleInstrument instrument;
        ASSERT_EQ(CWaveFileLoader::LoadWaveFile(path.c_str(), instrument, fromFile), 0);
        BYTE* pointer = nullptr;
        pm::WAVEFORMATEX f;
        DWORD size = 0;
        instrument.GetWaveForm(&pointer, &f, &size);
        EXPECT_EQ(size, data.size());
        EXPECT_EQ(f.nSamplesPerSec, 8000u);
        EXPECT_EQ(pointer == nullptr, fromFile == 1);
        ASSERT_EQ(port.AllocateMemory(instrument), 0);
        port.DownloadInstrument(instrument);
        const auto wave = synth.Downloaded().front();
        EXPECT_EQ(std::vector<BYTE>(wave.begin() + 60, wave.begin() + 220), data);
        port.UnloadInstrument(instrument);
    }

    // Read at allocation: a file gone since loading fails the allocation, not a crash, and
    // leaves the instrument able to try again.
    CSampleInstrument late;
    CWaveFileLoader::LoadWaveFile(path.c_str(), late, 1);
    std::filesystem::remove(path);
    const Thrown thrown = Catch([&] { port.AllocateMemory(late); });
    EXPECT_EQ(thrown.code, pm::E_FAIL);
    EXPECT_EQ(thrown.label, "CSampleInstrument::GetWaveBuffer()");
    EXPECT_EQ(Catch([&] { port.AllocateMemory(late); }).code, pm::E_FAIL);

    // Missing and malformed files fail with the reader's code.
    CSampleInstrument bad;
    for (const Bytes& file : {Bytes{}, Riff({Chunk("data", data)})}) {
        WriteFile(path, file);
        const Thrown t = Catch([&] { CWaveFileLoader::LoadWaveFile(path.c_str(), bad, 0); });
        EXPECT_EQ(t.code, pm::E_FAIL);
        EXPECT_EQ(t.label, "CDLSLoader::LoadWaveFile()");
    }
    EXPECT_EQ(Catch([&] { CWaveFileLoader::LoadWaveFile("/nonexistent.wav", bad, 0); }).code,
              pm::E_FAIL);
}

}  // namespace
}  // namespace musicport::test
