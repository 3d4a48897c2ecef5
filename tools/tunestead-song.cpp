// tunestead-song: looks into a song file (.tnd), exports it as a Standard MIDI File or as a
// WAV rendered by the built-in synthesizer, and sets its author and title.

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "musicport/GMInstruments.h"
#include "platform/file/FileIo.h"
#include "platform/file/ReplacingFile.h"
#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/fluidsynth/Renderer.h"
#include "platform/music/EventBuffer.h"
#include "platform/music/IMusicPort.h"
#include "platform/music/ResultCodes.h"
#include "platform/text/CodePage.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/SongExport.h"
#include "recorder/SongFile.h"

namespace {

namespace fs = std::filesystem;
using namespace recorder;

constexpr int kUsageError = 2;
constexpr int kFileError = 1;

void PrintHelp() {
    std::puts(
        "Usage: tunestead-song COMMAND FILE [OPTIONS]\n"
        "\n"
        "  info FILE                      header fields, author and title, events, duration,\n"
        "                                 notes used\n"
        "  export FILE --midi OUT.mid     a Standard MIDI File (type 0), 1 tick = 1 ms\n"
        "  export FILE --wav OUT.wav      rendered offline by the built-in synthesizer with the\n"
        "                                 song's instrument (44100 Hz, 16-bit stereo); at\n"
        "                                 most 6:45:47, what a WAV file can hold\n"
        "  tag FILE [--author A] [--title T]\n"
        "                                 set the author and title (at most 49 bytes each in\n"
        "                                 GBK); every other byte of the file is kept\n"
        "  --help                         show this text\n"
        "\n"
        "Exit status: 0 on success, 1 for a file that cannot be read or written (or a song\n"
        "too long for a WAV file), 2 for a usage error.");
}

int Fail(const std::string& message, int code) {
    std::fprintf(stderr, "tunestead-song: %s\n", message.c_str());
    return code;
}

bool Load(const fs::path& path, LoadedSong* song, int* code) {
    const SongFileResult result = ReadSongFile(path, CNoteRecorder::kMaxEvents, song);
    if (result.Ok())
        return true;
    std::string detail = SongFileMessage(result, path);
    if (result.status == SongFileStatus::CannotOpen)
        detail += " (" + platform::file::FileErrorReport(result.error, path) + ")";
    *code = Fail(path.string() + ": " + detail, kFileError);
    return false;
}

// A text of the file as the terminal may show it: control characters, which would act on the
// terminal, are written as escapes, and so is the backslash that starts one. (GBK holds no C1
// control: its byte 0x80 is the euro sign.)
std::string Text(const SongText& units) {
    const std::string utf8 = platform::text::GbkToUtf8(DecodeSongText(units));
    std::string shown;
    char escape[16];
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            shown += escape;
        } else if (byte == '\\') {
            shown += "\\\\";
        } else {
            shown += char(byte);
        }
    }
    return shown;
}

int Info(const fs::path& path) {
    LoadedSong song;
    int code = 0;
    if (!Load(path, &song, &code))
        return code;
    const SongFileHeader& h = song.header;
    const SongSummary summary = Summarise(song.events);
    std::printf("file:        %s\n", path.string().c_str());
    std::printf("port flags:  0x%08" PRIX32 "\n", h.portFlags);
    const std::string_view name = musicport::GetGMProgramName(int(h.program) - 1);
    if (name.empty())
        std::printf("instrument:  %" PRIu32 " (none)\n", h.program);
    else
        std::printf("instrument:  %.*s\n", int(name.size()), name.data());
    std::printf("author:      %s\n", Text(h.author).c_str());
    std::printf("title:       %s\n", Text(h.title).c_str());
    std::printf("events:      %zu", song.events.size());
    if (h.eventCount != song.events.size())
        std::printf(" (the header says %" PRIu32 ")", h.eventCount);
    std::printf("\nnote-ons:    %zu\n", summary.noteOns);
    std::printf("duration:    %" PRIu64 ".%03" PRIu64 " s\n", summary.durationMs / 1000,
                summary.durationMs % 1000);
    std::printf("notes used:  %zu", summary.notesUsed.size());
    if (!summary.notesUsed.empty()) {
        std::printf(" (%u..%u):", unsigned(*summary.notesUsed.begin()),
                    unsigned(*summary.notesUsed.rbegin()));
        for (const std::uint8_t note : summary.notesUsed)
            std::printf(" %u", unsigned(note));
    }
    std::printf("\n");
    return 0;
}

int WriteOut(const fs::path& out, const std::vector<std::uint8_t>& bytes) {
    const std::array<std::span<const std::byte>, 1> chunks{
        std::as_bytes(std::span<const std::uint8_t>(bytes))};
    if (const int error = platform::file::WriteFileReplacing(out, chunks); error != 0)
        return Fail(platform::file::FileErrorReport(error, out), kFileError);
    return 0;
}

// "H:MM:SS" of a number of seconds.
std::string Clock(std::uint64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", seconds / 3600,
                  unsigned(seconds / 60 % 60), unsigned(seconds % 60));
    return text;
}

// Renders the song offline, block by block straight into the file, so memory stays the same
// whatever the song's length: each message is played at its frame on the song's timeline, and
// two seconds of release follow the last one.
int RenderWav(const fs::path& path, const LoadedSong& song, const fs::path& out) {
    using namespace platform::music;
    using platform::fluidsynth::FluidSynthBackend;
    constexpr int kRate = FluidSynthBackend::kDefaultSampleRate;
    constexpr std::size_t kBlockFrames = 4096;
    const std::vector<recorder::TimedMessage> timeline = SongTimeline(song.events);
    const std::uint64_t frames = RenderedFrames(timeline, kRate, 2 * kRate);
    if (frames > kWavMaxFrames)
        return Fail(path.string() + ": the WAV would last " + Clock(frames / kRate) +
                        "; a WAV file holds at most " + Clock(kWavMaxFrames / kRate) +
                        " (4 GiB) at " + std::to_string(kRate) + " Hz",
                    kFileError);

    FluidSynthBackend::Options options;
    options.audioDrivers.clear();
    FluidSynthBackend backend(options);
    DMUS_PORTPARAMS8 params{};
    params.dwSize = sizeof params;
    params.dwValidParams = DMUS_PORTPARAMS_SAMPLERATE;
    params.dwSampleRate = kRate;
    std::unique_ptr<IMusicPort> port;
    if (Failed(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port)) || !port ||
        Failed(port->Activate(TRUE)))
        return Fail("cannot start the built-in synthesizer (is the SoundFont installed?)",
                    kFileError);
    const std::shared_ptr<platform::fluidsynth::Renderer> renderer = backend.LastPortRenderer();
    if (renderer->SampleRate() != kRate)
        return Fail("the built-in synthesizer runs at " + std::to_string(renderer->SampleRate()) +
                        " Hz, not " + std::to_string(kRate),
                    kFileError);
    auto play = [&](DWORD msg) {
        EventBuffer buffer(64);
        if (Succeeded(buffer.PackStructured(0, 0, msg)))
            port->PlayBuffer(buffer);
    };
    if (song.header.program >= 1 && song.header.program <= 128)
        play(0xC0 | (DWORD(song.header.program - 1) << 8));

    platform::file::ReplacingFile file;
    int error = file.Open(out);
    const std::array<std::uint8_t, kWavHeaderBytes> header = WavHeader(frames, kRate);
    if (error == 0)
        error = file.Write(std::as_bytes(std::span(header)));
    std::vector<std::uint8_t> bytes;
    std::uint64_t frame = 0;
    auto renderTo = [&](std::uint64_t target) {
        while (error == 0 && frame < target) {
            const auto chunk = std::size_t(std::min<std::uint64_t>(target - frame, kBlockFrames));
            bytes.clear();
            AppendWavSamples(renderer->Render(chunk), bytes);
            error = file.Write(std::as_bytes(std::span(bytes)));
            frame += chunk;
        }
    };
    for (const recorder::TimedMessage& m : timeline) {
        renderTo(FrameAt(m.timeMs, kRate));
        play(m.msg);
    }
    renderTo(frames);
    if (error == 0)
        error = file.Commit();
    if (error != 0)
        return Fail(platform::file::FileErrorReport(error, out), kFileError);
    return 0;
}

int Export(const fs::path& path, std::string_view kind, const fs::path& out) {
    LoadedSong song;
    int code = 0;
    if (!Load(path, &song, &code))
        return code;
    if (kind == "--midi")
        return WriteOut(out, ToStandardMidiFile(song.events, song.header.program));
    return RenderWav(path, song, out);
}

int Tag(const fs::path& path, const std::vector<std::string_view>& options) {
    LoadedSong song;
    int code = 0;
    if (!Load(path, &song, &code))
        return code;
    std::string author = DecodeSongText(song.header.author);
    std::string title = DecodeSongText(song.header.title);
    for (std::size_t i = 0; i + 1 < options.size(); i += 2) {
        const std::string gbk = platform::text::Utf8ToGbk(options[i + 1]);
        if (gbk.size() > kSongTextMaxBytes)
            return Fail(std::string(options[i]) + " is " + std::to_string(gbk.size()) +
                            " bytes in GBK; at most 49 fit",
                        kUsageError);
        (options[i] == "--author" ? author : title) = gbk;
    }
    const SongFileResult result = RewriteSongTexts(path, author, title);
    if (!result.Ok())
        return Fail(path.string() + ": " + SongFileMessage(result, path), kFileError);
    return 0;
}

int Run(const std::vector<std::string_view>& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        PrintHelp();
        return args.empty() ? kUsageError : 0;
    }
    const std::string_view command = args[0];
    if (args.size() < 2)
        return Fail("missing FILE; see --help", kUsageError);
    const fs::path file = fs::path(std::u8string(args[1].begin(), args[1].end()));
    if (command == "info" && args.size() == 2)
        return Info(file);
    if (command == "export" && args.size() == 4 && (args[2] == "--midi" || args[2] == "--wav"))
        return Export(file, args[2], fs::path(std::u8string(args[3].begin(), args[3].end())));
    if (command == "tag" && args.size() >= 4 && args.size() % 2 == 0) {
        const std::vector<std::string_view> options(args.begin() + 2, args.end());
        for (std::size_t i = 0; i < options.size(); i += 2) {
            if (options[i] != "--author" && options[i] != "--title")
                return Fail("unknown option " + std::string(options[i]), kUsageError);
        }
        return Tag(file, options);
    }
    return Fail("bad arguments; see --help", kUsageError);
}

}  // namespace

int main(int argc, char** argv) {
    // A file larger than the process may write fails its write (EFBIG) and is reported,
    // instead of ending the tool with a signal.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return Run(std::vector<std::string_view>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        return Fail("not enough memory", kFileError);
    } catch (const std::exception& e) {
        return Fail(e.what(), kFileError);
    }
}
