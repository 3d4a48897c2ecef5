// tunestead-song: looks into a song file (.tnd), exports it as a Standard MIDI File or as a
// WAV rendered by the built-in synthesizer, sets its author and title, and makes one from a
// Standard MIDI File.

#include <charconv>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
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
#include "recorder/SongImport.h"

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
        "  import IN.mid OUT.tnd [--channel N] [--track N] [--program P] [--author A]\n"
        "                        [--title T]\n"
        "                                 a song from a Standard MIDI File (format 0 or 1,\n"
        "                                 at most 256 MiB): the note-ons and note-offs of one\n"
        "                                 channel at their times from the start of the file,\n"
        "                                 through its tempo map, rounded to the millisecond;\n"
        "                                 every note 0-127 keeps its pitch and velocity (the\n"
        "                                 player sounds them all; its keyboard shows those\n"
        "                                 in view). Other channels, controllers (the sustain\n"
        "                                 pedal too) and pitch bend are left out. A song\n"
        "                                 lasts at most 24 hours.\n"
        "                                 A song event waits at most 65,535 ms, so a\n"
        "                                 longer rest is bridged by a filler every 65,535 ms:\n"
        "                                 the release (note-off, velocity 0) of a note not\n"
        "                                 sounding then, note 0 unless the song holds it,\n"
        "                                 which sounds nothing. A song whose first note comes\n"
        "                                 after the start of the file begins with one. Notes\n"
        "                                 still sounding at the end of the file are released\n"
        "                                 there.\n"
        "    --channel N                  1-16; default the lowest channel with notes other\n"
        "                                 than 10 (drums)\n"
        "    --track N                    only the Nth track of the file (1 is the first)\n"
        "    --program P                  the instrument, 0-127 (General MIDI, 0 is Acoustic\n"
        "                                 Grand Piano); default the channel's first program\n"
        "                                 change, else 0\n"
        "    --author A, --title T        default the file's copyright notice and its first\n"
        "                                 track's name, cut to 49 bytes in GBK (characters\n"
        "                                 GBK cannot hold become \"?\"); given here, at most\n"
        "                                 49 bytes\n"
        "  --help                         show this text\n"
        "\n"
        "Exit status: 0 on success, 1 for a file that cannot be read or written (or a song\n"
        "too long for a WAV file, or a MIDI file without notes to import), 2 for a usage\n"
        "error (a --track beyond the MIDI file's tracks included).");
}

// A path from a command-line argument, whose bytes are UTF-8 (or whatever the file system holds).
fs::path Utf8Path(std::string_view argument) {
    return fs::path(std::u8string(argument.begin(), argument.end()));
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

// A whole decimal number within [low, high], or nothing.
std::optional<int> Number(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

// "m:ss.mmm" (or "h:mm:ss.mmm") of a time in milliseconds.
std::string Duration(std::uint64_t ms) {
    char text[48];
    const std::uint64_t seconds = ms / 1000;
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u.%03u", seconds / 3600,
                      unsigned(seconds / 60 % 60), unsigned(seconds % 60), unsigned(ms % 1000));
    else
        std::snprintf(text, sizeof text, "%u:%02u.%03u", unsigned(seconds / 60),
                      unsigned(seconds % 60), unsigned(ms % 1000));
    return text;
}

std::string ChannelsWithNotes(const ImportedSong& song) {
    std::string list;
    for (std::size_t c = 0; c < song.notesByChannel.size(); ++c) {
        if (song.notesByChannel[c] > 0)
            list += (list.empty() ? "" : ", ") + std::to_string(c + 1);
    }
    return list.empty() ? "none" : list;
}

int Import(const fs::path& in, const fs::path& out, const std::vector<std::string_view>& options) {
    SongImportOptions request;
    for (std::size_t i = 0; i + 1 < options.size(); i += 2) {
        const std::string_view name = options[i];
        const std::string_view value = options[i + 1];
        std::optional<int> number;
        if (name == "--channel" && (number = Number(value, 1, 16))) {
            request.channel = *number;
        } else if (name == "--track" && (number = Number(value, 1, 65535))) {
            request.track = *number;
        } else if (name == "--program" && (number = Number(value, 0, 127))) {
            request.program = *number;
        } else if (name == "--author" || name == "--title") {
            std::string gbk = platform::text::Utf8ToGbk(value);
            if (gbk.size() > kSongTextMaxBytes)
                return Fail(std::string(name) + " is " + std::to_string(gbk.size()) +
                                " bytes in GBK; at most 49 fit",
                            kUsageError);
            (name == "--author" ? request.author : request.title) = std::move(gbk);
        } else if (name == "--channel" || name == "--track" || name == "--program") {
            const char* range = name == "--channel" ? "1-16"
                                : name == "--track" ? "1-65535"
                                                    : "0-127";
            return Fail(std::string(name) + " takes a number " + range + ", not \"" +
                            std::string(value) + "\"",
                        kUsageError);
        } else {
            return Fail("unknown option " + std::string(name), kUsageError);
        }
    }

    ImportedSong song;
    const SongImportResult result = ImportSong(in, request, &song);
    const std::string name = in.string();
    switch (result.status) {
        case SongImportStatus::Ok:
            break;
        case SongImportStatus::CannotOpen:
        case SongImportStatus::FileError:
            return Fail(platform::file::FileErrorReport(result.error, in), kFileError);
        case SongImportStatus::TooLarge:
            return Fail(name + " is larger than 256 MiB, the most that is imported",
                        kFileError);
        case SongImportStatus::NotMidi:
            return Fail(name + " is not a Standard MIDI File of format 0 or 1 (" +
                            std::string(musicport::MidiFileStatusText(result.midiStatus)) + ")",
                        kFileError);
        case SongImportStatus::NoSuchTrack:
            return Fail(name + " has " + std::to_string(song.tracks) + " track" +
                            (song.tracks == 1 ? "" : "s") + "; --track " +
                            std::to_string(request.track) + " names none",
                        kUsageError);
        case SongImportStatus::NoNotes:
            return Fail(name + ": no notes on " +
                            (request.channel != 0 ? "channel " + std::to_string(request.channel)
                                                  : std::string("a channel other than 10")) +
                            (request.track != 0 ? " in track " + std::to_string(request.track)
                                                : std::string()) +
                            " (channels with notes: " + ChannelsWithNotes(song) + ")",
                        kFileError);
        case SongImportStatus::TooLong:
            return Fail(name + ": the song would last " + Duration(song.lastMs) +
                            "; an imported song lasts at most 24:00:00.000",
                        kFileError);
    }
    if (const SongFileResult written = WriteSongFile(out, song.header, song.events); !written.Ok())
        return Fail(SongFileMessage(written, out), kFileError);
    std::printf(
        "%s: channel %d (channels with notes: %s), %zu events (%zu of them silent "
        "fillers), %s, instrument %" PRIu32 "\n",
        out.string().c_str(), song.channel, ChannelsWithNotes(song).c_str(), song.events.size(),
        song.fillers, Duration(song.durationMs).c_str(), song.header.program);
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
    const fs::path file = Utf8Path(args[1]);
    if (command == "info" && args.size() == 2)
        return Info(file);
    if (command == "export" && args.size() == 4 && (args[2] == "--midi" || args[2] == "--wav"))
        return Export(file, args[2], Utf8Path(args[3]));
    if (command == "import" && args.size() >= 3 && args.size() % 2 == 1)
        return Import(file, Utf8Path(args[2]),
                      std::vector<std::string_view>(args.begin() + 3, args.end()));
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
