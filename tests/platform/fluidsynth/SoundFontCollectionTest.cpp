// Collections on the system's real General MIDI SoundFont, and renumbered downloads rendered
// offline: a downloaded instrument must sound as the preset it came from, under its new patch.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>

#include "platform/fluidsynth/SoundFontCollection.h"
#include "platform/fluidsynth/SoundFontLoader.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"

namespace tests::fluidsynth {
namespace {

using platform::fluidsynth::SoundFontLoader;

DMUS_OBJECTDESC Desc(DWORD valid) {
    DMUS_OBJECTDESC desc;
    desc.dwSize = sizeof desc;
    desc.dwValidData = valid | DMUS_OBJ_CLASS;
    desc.guidClass = CLSID_DirectMusicCollection;
    return desc;
}

DMUS_OBJECTDESC DefaultDesc() {
    DMUS_OBJECTDESC desc = Desc(DMUS_OBJ_OBJECT);
    desc.guidObject = GUID_DefaultGMCollection;
    return desc;
}

DMUS_OBJECTDESC FileDesc(const std::string& path) {
    DMUS_OBJECTDESC desc = Desc(DMUS_OBJ_FILENAME | DMUS_OBJ_FULLPATH);
    std::copy(path.begin(), path.end(), desc.wszFileName.begin());
    return desc;
}

struct Entry {
    DWORD patch;
    std::u16string name;
};

std::vector<Entry> Walk(ICollection& collection) {
    std::vector<Entry> entries;
    for (DWORD i = 0;; ++i) {
        DWORD patch = 0;
        char16_t name[260];
        if (collection.EnumInstrument(i, &patch, name, 260) != S_OK)
            return entries;
        entries.push_back({patch, name});
    }
}

std::shared_ptr<ICollection> LoadDefault(SoundFontLoader& loader) {
    std::shared_ptr<ICollection> collection;
    const DMUS_OBJECTDESC desc = DefaultDesc();
    EXPECT_EQ(loader.GetCollection(&desc, &collection), S_OK);
    return collection;
}

TEST(SoundFontCollection, DefaultCollectionListsPresetsInStableOrderWithDrumFlag) {
    SoundFontLoader loader;
    const auto collection = LoadDefault(loader);
    ASSERT_NE(collection, nullptr);
    const std::vector<Entry> entries = Walk(*collection);
    ASSERT_GE(entries.size(), 128u);
    EXPECT_EQ(entries[0].patch, 0u);
    bool drumsSeen = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_FALSE(entries[i].name.empty()) << i;
        const bool drum = (entries[i].patch & F_INSTRUMENT_DRUMS) != 0;
        if (drum) {
            EXPECT_EQ(entries[i].patch & 0x00FFFF00, 0u) << "drum kits sit in bank 0";
        }
        EXPECT_FALSE(drumsSeen && !drum) << "melodic instruments come before drum kits";
        drumsSeen = drumsSeen || drum;
        if (i > 0 && drum == ((entries[i - 1].patch & F_INSTRUMENT_DRUMS) != 0)) {
            EXPECT_LT(entries[i - 1].patch, entries[i].patch) << i;
        }
    }
    EXPECT_TRUE(drumsSeen);

    // Past the end: S_FALSE and the outputs as they were.
    DWORD patch = 77;
    char16_t name[4] = u"xyz";
    EXPECT_EQ(collection->EnumInstrument(DWORD(entries.size()), &patch, name, 4), S_FALSE);
    EXPECT_EQ(patch, 77u);
    EXPECT_EQ(std::u16string(name), u"xyz");
    // A second load of the same collection comes from the cache, in the same order.
    const auto again = LoadDefault(loader);
    EXPECT_EQ(again, collection);
}

TEST(SoundFontCollection, BadFilesGiveTheLoadersCodes) {
    const std::string notSoundFont = ::testing::TempDir() + "/not-a-soundfont.sf2";
    std::ofstream(notSoundFont) << "RIFF....this is text, not a SoundFont";
    struct Case {
        std::string path;
        HRESULT expected;
    };
    const std::vector<Case> cases = {
        {notSoundFont, DMUS_E_NOTADLSCOL},
        {"/nonexistent/default.sf2", DMUS_E_LOADER_FAILEDOPEN},
        {::testing::TempDir(), DMUS_E_LOADER_FAILEDOPEN},  // a directory
    };
    SoundFontLoader loader;
    for (const Case& c : cases) {
        std::shared_ptr<ICollection> collection;
        const DMUS_OBJECTDESC desc = FileDesc(c.path);
        EXPECT_EQ(loader.GetCollection(&desc, &collection), c.expected) << c.path;
        EXPECT_EQ(collection, nullptr);
    }
}

TEST(SoundFontCollection, MemoryAndFileLoadsListTheSame) {
    std::ifstream file(SoundFontLoader::kDefaultCollection, std::ios::binary);
    const std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_FALSE(bytes.empty());
    SoundFontLoader loader;
    DMUS_OBJECTDESC desc = Desc(DMUS_OBJ_MEMORY);
    desc.llMemLength = std::int64_t(bytes.size());
    desc.pbMemData = bytes.data();
    std::shared_ptr<ICollection> fromMemory;
    ASSERT_EQ(loader.GetCollection(&desc, &fromMemory), S_OK);
    const auto fromFile = LoadDefault(loader);
    const auto a = Walk(*fromMemory);
    const auto b = Walk(*fromFile);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(a[i].name, b[i].name);
}

// Renders note 69 for half a second after the given program selection on channel `channel`.
std::vector<float> RenderNote(OfflineSynth& synth, BYTE channel, BYTE program, BYTE note = 69) {
    synth.Play(Msg(BYTE(0xC0 | channel), program));
    synth.Play(Msg(BYTE(0x90 | channel), note, 110));
    auto samples = synth.RenderSeconds(0.5);
    synth.Play(Msg(BYTE(0xB0 | channel), 123, 0));
    synth.Play(Msg(BYTE(0xB0 | channel), 120, 0));
    synth.RenderSeconds(1.0);
    return samples;
}

// How far two renderings are apart, relative to the first one's level.
double Distance(const std::vector<float>& a, const std::vector<float>& b) {
    double diff = 0;
    double level = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        diff += (a[i] - b[i]) * (a[i] - b[i]);
        level += a[i] * a[i];
    }
    return std::sqrt(diff / std::max(level, 1e-12));
}

// Downloads the collection's instrument with `sourcePatch` to `synth` as `newPatch`.
std::shared_ptr<IDownloadedInstrument> Download(OfflineSynth& synth, ICollection& collection,
                                                DWORD sourcePatch, DWORD newPatch) {
    std::shared_ptr<IInstrument> instrument;
    EXPECT_EQ(collection.GetInstrument(sourcePatch, &instrument), S_OK);
    EXPECT_EQ(instrument->SetPatch(newPatch), S_OK);
    std::shared_ptr<IPortDownload> download;
    EXPECT_EQ(synth.port->QueryPortDownload(&download), S_OK);
    std::shared_ptr<IDownloadedInstrument> downloaded;
    const DMUS_NOTERANGE range{0, 127};
    EXPECT_EQ(download->DownloadInstrument(*instrument, &downloaded, &range, 1), S_OK);
    return downloaded;
}

// A fresh synth each time: the chorus runs on the synth's own clock, so only renderings that
// start at the same moment of a synth's life compare sample by sample.
using SynthSetup = std::function<void(OfflineSynth&)>;
std::vector<float> Fresh(const SynthSetup& setup, BYTE channel, BYTE program, BYTE note = 69) {
    OfflineSynth synth;
    if (setup)
        setup(synth);
    return RenderNote(synth, channel, program, note);
}

TEST(SoundFontCollection, RenumberedInstrumentPlaysAsItsSourceAndUnloadUndoesIt) {
    SoundFontLoader loader;
    const auto collection = LoadDefault(loader);
    constexpr BYTE kFlute = 73;
    const auto flute = Fresh({}, 0, kFlute);
    const auto program1 = Fresh({}, 0, 1);
    ASSERT_GT(Distance(flute, program1), 0.5) << "the two instruments must differ";

    std::shared_ptr<IDownloadedInstrument> downloaded;
    const SynthSetup download = [&](OfflineSynth& synth) {
        downloaded = Download(synth, *collection, kFlute, 1);
    };
    const auto renumbered = Fresh(download, 0, 1);
    EXPECT_LT(Distance(flute, renumbered), 0.05);
    EXPECT_NEAR(PitchHz(LeftChannel(renumbered, 4410, 8192), 44100), 440.0, 3.0);
    // The source program itself is untouched.
    EXPECT_LT(Distance(flute, Fresh(download, 0, kFlute)), 0.05);

    const auto unloaded = Fresh(
        [&](OfflineSynth& synth) {
            download(synth);
            std::shared_ptr<IPortDownload> port;
            synth.port->QueryPortDownload(&port);
            EXPECT_EQ(port->UnloadInstrument(*downloaded), S_OK);
            EXPECT_EQ(port->UnloadInstrument(*downloaded), DMUS_E_NOT_DOWNLOADED_TO_PORT);
        },
        0, 1);
    EXPECT_LT(Distance(program1, unloaded), 0.05);
}

TEST(SoundFontCollection, UnloadGivesAChannelPlayingTheInstrumentItsProgramBack) {
    SoundFontLoader loader;
    const auto collection = LoadDefault(loader);
    const auto program1 = Fresh({}, 0, 1);
    OfflineSynth synth;
    const auto downloaded = Download(synth, *collection, 73, 1);
    synth.Play(Msg(0xC0, 1));
    std::shared_ptr<IPortDownload> port;
    synth.port->QueryPortDownload(&port);
    port->UnloadInstrument(*downloaded);
    // No new program change: the channel answers program 1 of the SoundFont again.
    synth.Play(Msg(0x90, 69, 110));
    const auto after = synth.RenderSeconds(0.5);
    const auto profile = HarmonicProfile(LeftChannel(after, 4410, 8192), 44100, 440.0, 6);
    const auto expected = HarmonicProfile(LeftChannel(program1, 4410, 8192), 44100, 440.0, 6);
    for (std::size_t i = 0; i < profile.size(); ++i)
        EXPECT_NEAR(profile[i], expected[i], 0.05) << "harmonic " << i + 1;
}

TEST(SoundFontCollection, DrumKitRenumberedPlaysOnAMelodicChannel) {
    SoundFontLoader loader;
    const auto collection = LoadDefault(loader);
    constexpr BYTE kSnare = 38;
    const auto kitOnDrumChannel = Fresh({}, 9, 0, kSnare);
    const auto program1 = Fresh({}, 0, 1, kSnare);
    const auto kitAsProgram1 =
        Fresh([&](OfflineSynth& synth) { Download(synth, *collection, F_INSTRUMENT_DRUMS | 0, 1); },
              0, 1, kSnare);
    EXPECT_LT(Distance(kitOnDrumChannel, kitAsProgram1), 0.05);
    EXPECT_GT(Distance(program1, kitAsProgram1), 0.5);
}

TEST(SoundFontCollection, UnknownPatchIsInvalid) {
    SoundFontLoader loader;
    const auto collection = LoadDefault(loader);
    std::shared_ptr<IInstrument> instrument;
    EXPECT_EQ(collection->GetInstrument(MakePatch(99, 0, 5, false), &instrument),
              DMUS_E_INVALIDPATCH);
    EXPECT_EQ(instrument, nullptr);
}

}  // namespace
}  // namespace tests::fluidsynth
