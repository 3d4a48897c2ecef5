// The song file byte for byte: golden bytes, texts in GBK, hostile files, and saves that fail
// without harming the file they were to replace.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Fifo.h"
#include "FileSizeLimit.h"
#include "platform/file/FileIo.h"
#include "platform/text/CodePage.h"
#include "recorder/SongFile.h"

namespace {

constexpr std::uint32_t kMaxEventsForTests = 0x3FFFFFFF;

using namespace recorder;
namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

class SongFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "songfile.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
    }

    fs::path Write(const std::string& name, const Bytes& bytes) {
        const fs::path path = dir_ / std::u8string(name.begin(), name.end());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    static Bytes Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
};

SongFileHeader SampleHeader() {
    SongFileHeader header;
    header.portFlags = 0x00000A09;
    header.program = 1;
    header.author = EncodeSongText("abc");
    header.title = EncodeSongText(platform::text::Utf8ToGbk("键乐坊"));
    return header;
}

const std::vector<NoteEvent> kThreeEvents = {0x0000FF3C, 0x00FA7F3C, 0x1234FF40};

Bytes ValidFile(std::uint32_t count = 3) {
    const auto header = EncodeSongHeader([&] {
        SongFileHeader h = SampleHeader();
        h.eventCount = count;
        return h;
    }());
    Bytes bytes;
    for (const std::byte b : header)
        bytes.push_back(static_cast<unsigned char>(b));
    for (const NoteEvent e : kThreeEvents)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<unsigned char>(e >> (8 * i)));
    return bytes;
}

TEST_F(SongFileTest, ThreeEventSongIsTheHeaderThenTheEventsLittleEndian) {
    const fs::path path = dir_ / "three.tnd";
    ASSERT_TRUE(WriteSongFile(path, SampleHeader(), kThreeEvents).Ok());
    const Bytes bytes = Read(path);

    ASSERT_EQ(bytes.size(), 228u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 12),
              (Bytes{'T', 'N', 'D', 0, 0x09, 0x0A, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(Bytes(bytes.begin() + 12, bytes.begin() + 20),
              (Bytes{0x61, 0, 0x62, 0, 0x63, 0, 0, 0}));
    // 键乐坊 in GBK is BC FC C0 D6 B7 BB, one unit per byte.
    EXPECT_EQ(Bytes(bytes.begin() + 112, bytes.begin() + 126),
              (Bytes{0xBC, 0, 0xFC, 0, 0xC0, 0, 0xD6, 0, 0xB7, 0, 0xBB, 0, 0, 0}));
    EXPECT_TRUE(std::all_of(bytes.begin() + 126, bytes.begin() + 212,
                            [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(Bytes(bytes.begin() + 212, bytes.begin() + 216), (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(Bytes(bytes.begin() + 216, bytes.begin() + 224),
              (Bytes{0x3C, 0xFF, 0x00, 0x00, 0x3C, 0x7F, 0xFA, 0x00}));
    EXPECT_EQ(bytes, ValidFile());

    LoadedSong song;
    ASSERT_TRUE(ReadSongFile(path, kMaxEventsForTests, &song).Ok());
    EXPECT_EQ(song.events, kThreeEvents);
    EXPECT_EQ(song.header.portFlags, 0x0A09u);
    EXPECT_EQ(platform::text::GbkToUtf8(DecodeSongText(song.header.title)), "键乐坊");
}

TEST(SongTextTest, EncodesAtMost49BytesAndDecodesUpToTheFirstUnitThatIsNotAByte) {
    const std::string chinese = platform::text::Utf8ToGbk("作者");
    EXPECT_EQ(chinese, "\xD7\xF7\xD5\xDF");
    EXPECT_EQ(DecodeSongText(EncodeSongText(chinese)), chinese);

    // 24 two-byte characters fill 48 bytes; a 25th does not fit whole and is left out.
    std::string long2;
    for (int i = 0; i < 25; ++i)
        long2 += "\xD7\xF7";
    EXPECT_EQ(DecodeSongText(EncodeSongText(long2)), long2.substr(0, 48));
    EXPECT_EQ(DecodeSongText(EncodeSongText(std::string(60, 'x'))), std::string(49, 'x'));

    // What GBK cannot hold becomes one '?' a character, however many bytes it takes in UTF-8;
    // a byte that is not UTF-8 at all becomes one '?' too.
    const std::pair<std::string, std::string> narrowed[] = {
        {"a\xF0\x9F\x98\x80"
         "b",
         "a?b"},
        {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", "??"},
        {"\xED\x95\x9C\xE4\xBD\x9C", "?\xD7\xF7"},  // 한 is not in GBK, 作 is
        {"a\xFF"
         "b",
         "a?b"},
    };
    for (const auto& [utf8, gbk] : narrowed)
        EXPECT_EQ(platform::text::Utf8ToGbk(utf8), gbk) << utf8;

    SongText units{};
    units.fill('y');  // no zero unit: all 50 bytes
    EXPECT_EQ(DecodeSongText(units), std::string(50, 'y'));
    units[3] = 0x100;  // stops before the first unit above 255
    EXPECT_EQ(DecodeSongText(units), "yyy");
}

struct HostileCase {
    const char* name;
    std::function<Bytes()> bytes;
    SongFileStatus status;
    std::size_t events;
};

TEST_F(SongFileTest, HostileFilesGiveAClearStatusAndNeverMoreEventsThanPresent) {
    const Bytes valid = ValidFile();
    const auto withCount = [&](std::uint32_t count) {
        Bytes b = valid;
        for (int i = 0; i < 4; ++i)
            b[212 + i] = static_cast<unsigned char>(count >> (8 * i));
        return b;
    };
    const HostileCase cases[] = {
        {"empty", [] { return Bytes{}; }, SongFileStatus::TooShort, 0},
        {"header only", [&] { return Bytes(valid.begin(), valid.begin() + 216); },
         SongFileStatus::TooShort, 0},
        {"wrong magic",
         [&] {
             Bytes b = valid;
             b[1] = 'X';
             return b;
         },
         SongFileStatus::BadMagic, 0},
        {"magic TNDZ without its zero byte",
         [&] {
             Bytes b = valid;
             b[3] = 'Z';
             return b;
         },
         SongFileStatus::BadMagic, 0},
        {"count says more", [&] { return withCount(1000); }, SongFileStatus::Ok, 3},
        {"count says fewer", [&] { return withCount(2); }, SongFileStatus::Ok, 2},
        {"count zero", [&] { return withCount(0); }, SongFileStatus::Ok, 0},
        {"count far above the maximum", [&] { return withCount(0xFFFFFFFF); }, SongFileStatus::Ok,
         3},
        {"a partial event at the end",
         [&] {
             Bytes b = valid;
             b.resize(b.size() - 1);
             return b;
         },
         SongFileStatus::Ok, 2},
        {"texts without zero units and above 255",
         [&] {
             Bytes b = valid;
             std::fill(b.begin() + 12, b.begin() + 212, 0xFF);
             return b;
         },
         SongFileStatus::Ok, 3},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = Write("hostile.tnd", c.bytes());
        LoadedSong song;
        const SongFileResult result = ReadSongFile(path, kMaxEventsForTests, &song);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(song.events.size(), c.events);
        EXPECT_LE(song.events.capacity(), 3u);
        EXPECT_FALSE(SongFileMessage(result, path).empty() && !result.Ok());
    }
    // Every prefix of a valid file reads or fails cleanly.
    for (std::size_t length = 0; length <= valid.size(); ++length) {
        const fs::path path =
            Write("prefix.tnd", Bytes(valid.begin(), valid.begin() + long(length)));
        LoadedSong song;
        const SongFileResult result = ReadSongFile(path, kMaxEventsForTests, &song);
        EXPECT_EQ(result.Ok(), length > 216) << length;
        EXPECT_EQ(song.events.size(), length > 216 ? (length - 216) / 4 : 0) << length;
    }
}

TEST_F(SongFileTest, PathsThatAreNotRegularFilesAreRefusedWithoutWaiting) {
    const tests::recorder::Fifo fifo(dir_ / "fifo.tnd");
    ASSERT_TRUE(fifo.Made());
    struct Case {
        fs::path path;
        int error;
        std::string report;
    };
    const Case cases[] = {
        {dir_ / "missing.tnd", ENOENT, " was not found."},
        {dir_, EISDIR, " is a folder, not a file."},
        // A FIFO without a writer would hold a blocking open until some program writes to it.
        {fifo.Path(), platform::file::kNotARegularFile, " is not a regular file."},
        {"/dev/null", platform::file::kNotARegularFile, " is not a regular file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        LoadedSong song;
        SongFileResult result;
        EXPECT_TRUE(fifo.RunsWithoutWaiting(
            [&] { result = ReadSongFile(c.path, kMaxEventsForTests, &song); }));
        EXPECT_EQ(result.status, SongFileStatus::CannotOpen);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(SongFileMessage(result, c.path), "File not found!");
        EXPECT_EQ(platform::file::FileErrorReport(result.error, c.path),
                  c.path.string() + c.report);
    }
}

TEST_F(SongFileTest, AnUnreadableFileCannotBeOpened) {
    const fs::path unreadable = Write("locked.tnd", ValidFile());
    fs::permissions(unreadable, fs::perms::none);
    if (::access(unreadable.c_str(), R_OK) == 0)
        GTEST_SKIP() << "permissions do not bind this user (root)";
    LoadedSong song;
    const SongFileResult result = ReadSongFile(unreadable, kMaxEventsForTests, &song);
    EXPECT_EQ(result.status, SongFileStatus::CannotOpen);
    EXPECT_EQ(result.error, EACCES);
    EXPECT_EQ(SongFileMessage(result, unreadable), "File not found!");
}

TEST_F(SongFileTest, NonAsciiPathsAndLargeSongsRoundTrip) {
    std::vector<NoteEvent> events(100000);
    for (std::size_t i = 0; i < events.size(); ++i)
        events[i] = MakeNoteEvent(std::uint16_t(0x8000 | (i % 128)), std::uint32_t(i % 997));
    const fs::path path = dir_ / u8"录音 ü.tnd";
    ASSERT_TRUE(WriteSongFile(path, SampleHeader(), events).Ok());
    LoadedSong song;
    ASSERT_TRUE(ReadSongFile(path, kMaxEventsForTests, &song).Ok());
    EXPECT_EQ(song.header.eventCount, 100000u);
    EXPECT_EQ(song.events, events);
}

TEST_F(SongFileTest, AFailedSaveLeavesThePreviousFileByteIdentical) {
    const fs::path target = Write("song.tnd", ValidFile());
    const Bytes before = Read(target);

    // A folder in the way of the target: the rename fails, the temporary file goes.
    const fs::path folder = dir_ / "taken.tnd";
    fs::create_directory(folder);
    fs::create_directory(folder / "inside");
    const SongFileResult result = WriteSongFile(folder, SampleHeader(), kThreeEvents);
    EXPECT_EQ(result.status, SongFileStatus::FileError);
    EXPECT_TRUE(fs::is_directory(folder / "inside"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);

    // A full disk: the write stops short, the temporary file goes.
    {
        tests::recorder::FileSizeLimit limit(100);
        const SongFileResult full = WriteSongFile(target, SampleHeader(), kThreeEvents);
        EXPECT_EQ(full.status, SongFileStatus::FileError);
        EXPECT_EQ(full.error, EFBIG);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);

    EXPECT_EQ(Read(target), before);
}

TEST_F(SongFileTest, ASaveIntoAFolderWithoutWriteAccessIsDeniedAndKeepsTheFile) {
    const fs::path target = Write("song.tnd", ValidFile());
    const Bytes before = Read(target);
    // The temporary file cannot be made beside the target.
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(dir_.c_str(), W_OK) == 0)
        GTEST_SKIP() << "permissions do not bind this user (root)";
    const SongFileResult result = WriteSongFile(target, SampleHeader(), {kThreeEvents.data(), 1});
    EXPECT_EQ(result.status, SongFileStatus::FileError);
    EXPECT_EQ(result.error, EACCES);
    EXPECT_EQ(SongFileMessage(result, target), "Access to " + target.string() + " was denied.");
    EXPECT_EQ(Read(target), before);
}

TEST_F(SongFileTest, ASavedSongHasTheModeOfANewFileWhateverItReplaced) {
    const fs::path path = dir_ / "mode.tnd";
    for (const mode_t mask : {mode_t(022), mode_t(027), mode_t(0)}) {
        SCOPED_TRACE(mask);
        const mode_t previous = ::umask(mask);
        const SongFileResult result = WriteSongFile(path, SampleHeader(), kThreeEvents);
        ::umask(previous);
        ASSERT_TRUE(result.Ok());
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
    }
}

// Where a symbolic link stands, the file it leads to is replaced and the link stays a link.
TEST_F(SongFileTest, ASaveThroughASymbolicLinkReplacesItsTarget) {
    const fs::path songs = dir_ / "songs";
    const fs::path links = dir_ / "links";
    fs::create_directories(songs);
    fs::create_directories(links);
    struct Case {
        const char* name;
        std::vector<std::pair<fs::path, fs::path>> links;  // link, what it points to
        fs::path saveTo;
        fs::path target;  // a regular file afterwards
    };
    const Case cases[] = {
        {"relative", {{links / "a.tnd", "../songs/a.tnd"}}, links / "a.tnd", songs / "a.tnd"},
        {"absolute", {{links / "b.tnd", songs / "b.tnd"}}, links / "b.tnd", songs / "b.tnd"},
        {"a chain of two",
         {{links / "c.tnd", "c2.tnd"}, {links / "c2.tnd", songs / "c.tnd"}},
         links / "c.tnd",
         songs / "c.tnd"},
        {"to a file not made yet",
         {{links / "d.tnd", "../songs/new.tnd"}},
         links / "d.tnd",
         songs / "new.tnd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.target.filename() != "new.tnd")
            Write(fs::relative(c.target, dir_).string(), Bytes(300, 'x'));
        for (const auto& [link, to] : c.links)
            fs::create_symlink(to, link);
        ASSERT_TRUE(WriteSongFile(c.saveTo, SampleHeader(), kThreeEvents).Ok());
        for (const auto& link : c.links)
            EXPECT_TRUE(fs::is_symlink(link.first));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(c.target)));
        EXPECT_EQ(Read(c.saveTo), ValidFile());
    }
    // No temporary file left behind in either folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(songs), fs::directory_iterator()), 4);
    EXPECT_EQ(std::distance(fs::directory_iterator(links), fs::directory_iterator()), 5);

    // A loop of links is refused; nothing is made.
    fs::create_symlink("loop2.tnd", links / "loop1.tnd");
    fs::create_symlink("loop1.tnd", links / "loop2.tnd");
    const SongFileResult loop = WriteSongFile(links / "loop1.tnd", SampleHeader(), kThreeEvents);
    EXPECT_EQ(loop.status, SongFileStatus::FileError);
    EXPECT_EQ(loop.error, ELOOP);
    EXPECT_EQ(std::distance(fs::directory_iterator(links), fs::directory_iterator()), 7);
}

}  // namespace
