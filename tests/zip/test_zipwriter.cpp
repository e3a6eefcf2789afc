#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/CoreTest.h"
#include "zip/AnsiText.h"
#include "zip/ZipInspect.h"
#include "zip/ZipWriter.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

std::span<const char> Span(std::string_view bytes) {
    return {bytes.data(), bytes.size()};
}

using Names = std::vector<std::string>;

// A DOS stamp as read back (local time) in seconds since the epoch.
std::time_t Seconds(const std::vector<int>& stamp) {
    if (stamp.size() != 6) {
        return -1;
    }
    std::tm local{};
    local.tm_year = stamp[0] - 1900;
    local.tm_mon = stamp[1] - 1;
    local.tm_mday = stamp[2];
    local.tm_hour = stamp[3];
    local.tm_min = stamp[4];
    local.tm_sec = stamp[5];
    local.tm_isdst = -1;
    return std::mktime(&local);
}

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

TEST_CASE("windows1252Text") {
    CHECK(EncodeAnsi("é").value() == "\xE9");
    CHECK(EncodeAnsi("€ ñ.jpg").value() == "\x80 \xF1.jpg");
    CHECK(EncodeAnsi("").value() == "");
    CHECK(!EncodeAnsi("名.jpg"));
    CHECK(!EncodeAnsi(std::string("a\0b", 3)));
    CHECK(!EncodeAnsi("\xED\xA0\x80"));  // a lone surrogate

    CHECK(DecodeAnsi("\xE9\x80\x9F") == "é€Ÿ");
    CHECK(DecodeAnsi("\x81") == kReplacement);
    for (int b = 1; b < 256; ++b) {
        CAPTURE(b);
        const std::string byte(1, char(b));
        const std::string text = DecodeAnsi(byte);
        if (text != kReplacement) {
            CHECK(EncodeAnsi(text).value() == byte);
        }
    }
}

// Names, data, method, time stamp and attributes as another reader sees them.
TEST_CASE("entriesAsReadByOthers") {
    TempDir dir;
    const std::string archive = dir.File("entries.dzp");
    const std::string thumb = std::string("\x89PNG\r\n") + std::string(5000, 'x');
    std::string frame;
    for (int i = 0; i < 300; ++i) {
        frame += "JFIF frame data ";
    }
    ZipWriter writer;
    REQUIRE(!writer.OpenZip(archive));
    const std::time_t before = std::time(nullptr);
    CHECK(!writer.OpenFileInZip(".\\Thumb.png", 8, -1, 0x31));
    const std::time_t after = std::time(nullptr);
    CHECK(!writer.WriteBytes(Span(thumb)));
    CHECK(!writer.CloseFileInZip());
    CHECK(!writer.OpenFileInZip(".\\A\\B\\y.jpg", 8, -1, 0x20));
    CHECK(!writer.WriteBytes(Span(frame).first(1000)));
    CHECK(!writer.WriteBytes(Span(frame).subspan(1000)));
    CHECK(!writer.CloseFileInZip());
    CHECK(!writer.OpenFileInZip("é.jpg", 8, -1, 0xFFFF, "café"));
    CHECK(!writer.WriteBytes(Span("1")));
    CHECK(!writer.CloseZip());
    CHECK(writer.Result() == 0);
    CHECK(writer.Reason() == "");

    const auto read = ReadWithPython(archive);
    REQUIRE(read.error == "");
    REQUIRE(read.names() == Names{".\\Thumb.png", ".\\A\\B\\y.jpg", "\xE9.jpg"});
    CHECK(read.entries[0].sha256 == Sha256Hex(thumb));
    CHECK(read.entries[1].sha256 == Sha256Hex(frame));
    CHECK(read.entries[1].size == int64_t(frame.size()));
    CHECK(read.entries[2].comment == "caf\xE9");
    for (const ReadEntry& entry : read.entries) {
        CHECK(entry.method == 8);
        CHECK(entry.system == 0);            // DOS attributes
        CHECK((entry.flags & 0x800) == 0u);  // no UTF-8 marking
    }
    CHECK(read.entries[0].external == 0x21u);
    CHECK(read.entries[1].external == 0x20u);
    CHECK(read.entries[2].external == 0x27u);
    // DOS stamps have 2 s steps and are cut, not rounded.
    const std::time_t stamp = Seconds(read.entries[0].time);
    INFO("stamp ", stamp, " before ", before, " after ", after);
    CHECK((stamp >= before - 2 && stamp <= after));
    std::string unzip;
    CHECK_MESSAGE(UnzipTestsOk(archive, &unzip), unzip);
}

TEST_CASE("refusalsKeepTheState") {
    TempDir dir;
    ZipWriter writer;
    CHECK(writer.OpenFileInZip("a"));
    CHECK(writer.Result() == ZipWriter::kNothingOpen);
    CHECK(writer.WriteBytes(Span("x")));
    CHECK(writer.Result() == ZipWriter::kNothingOpen);
    CHECK(writer.CloseFileInZip());
    CHECK(writer.CloseZip());
    CHECK(writer.Result() == ZipWriter::kNothingOpen);

    REQUIRE(!writer.OpenZip(dir.File("first.zip")));
    CHECK(writer.OpenZip(dir.File("second.zip")));
    CHECK(writer.Result() == ZipWriter::kAlreadyOpen);
    CHECK(!fs::exists(P(dir.File("second.zip"))));
    CHECK(writer.CloseFileInZip());
    CHECK(writer.Result() == ZipWriter::kNothingOpen);
    CHECK(writer.WriteBytes(Span("x")));
    CHECK(writer.Result() == ZipWriter::kNothingOpen);

    CHECK(!writer.OpenFileInZip("one"));
    CHECK(writer.OpenFileInZip("two"));
    CHECK(writer.Result() == ZipWriter::kAlreadyOpen);
    CHECK(!writer.WriteBytes(Span("still one")));

    // An empty span is a caller's fault: it throws and leaves Result alone.
    CHECK(writer.OpenFileInZip("three"));
    CHECK_THROWS_AS(writer.WriteBytes({}), std::out_of_range);
    CHECK(writer.Result() == ZipWriter::kAlreadyOpen);

    // A subrange is written from its first element, and only it.
    const std::string bytes("0123456789");
    CHECK(!writer.WriteBytes(Span(bytes).subspan(5, 5)));
    // Closing the archive with its entry open completes both.
    CHECK(!writer.CloseZip());
    CHECK((!writer.IsArchiveOpen() && !writer.IsFileOpen()));

    const auto read = ReadWithPython(dir.File("first.zip"));
    REQUIRE(read.error == "");
    REQUIRE(read.names() == Names{"one"});
    CHECK(read.entries[0].sha256 == Sha256Hex("still one56789"));

    // The same writer starts a new archive after a close.
    CHECK(!writer.OpenZip(dir.File("again.zip")));
    CHECK(!writer.CloseZip());
    CHECK(ReadWithPython(dir.File("again.zip")).error == "");
}

// A name with no Windows-1252 form is refused, never written with "?".
TEST_CASE("unencodableNameRefused") {
    TempDir dir;
    ZipWriter writer;
    REQUIRE(!writer.OpenZip(dir.File("names.zip")));
    CHECK(writer.OpenFileInZip("名.jpg"));
    CHECK(writer.Result() == ZipWriter::kNameNotEncodable);
    CHECK(!writer.IsFileOpen());
    CHECK(writer.OpenFileInZip("a.jpg", 8, -1, 0, "✓"));
    CHECK(writer.Result() == ZipWriter::kNameNotEncodable);
    CHECK(!writer.OpenFileInZip("a.jpg"));
    CHECK(!writer.CloseZip());
    CHECK(ReadWithPython(dir.File("names.zip")).names() == Names{"a.jpg"});
}

// The format keeps a name's and a comment's length in 16 bits: longer ones
// are refused before minizip is asked, and the archive stays whole.
TEST_CASE("overlongNamesRefused") {
    TempDir dir;
    ZipWriter writer;
    REQUIRE(!writer.OpenZip(dir.File("long.zip")));
    const std::string longest(0xFFFF, 'n');
    std::string accented;  // 2 bytes a letter in UTF-8, 1 as stored
    for (int i = 0; i < 0xFFFF; ++i) {
        accented += "é";
    }
    struct Row {
        const char* tag;
        std::string name;
        std::string comment;
        bool refused;
    };
    const Row rows[] = {
        {"longest name", longest, "", false},
        {"name one byte longer", longest + "n", "", true},
        {"longest name, counted as stored", accented, "", false},
        {"comment one byte longer", "c", longest + "c", true},
    };
    for (const Row& row : rows) {
        CAPTURE(row.tag);
        CHECK(writer.OpenFileInZip(row.name, 8, -1, 0, row.comment) == row.refused);
        CHECK(writer.Result() == (row.refused ? -102 : ZipWriter::kSuccess));  // ZIP_PARAMERROR
        CHECK(writer.IsFileOpen() == !row.refused);
        if (!row.refused) {
            CHECK(!writer.WriteBytes(Span("x")));
            CHECK(!writer.CloseFileInZip());
        }
    }
    CHECK(!writer.CloseZip());
    CHECK(ReadWithPython(dir.File("long.zip")).names() ==
          Names{longest, std::string(0xFFFF, '\xE9')});
}

TEST_CASE("archivePaths") {
    TempDir dir;
    ZipWriter writer;
    CHECK(writer.OpenZip(dir.File("missing/folder/x.zip")));
    CHECK(writer.Result() == ZipWriter::kCannotOpenArchive);
    CHECK(!writer.IsArchiveOpen());
    // The system's reason comes with it.
    CHECK(writer.Reason() == ReasonOf(std::make_error_code(std::errc::no_such_file_or_directory)));

    // The archive path is the file system's own (UTF-8), not cp1252.
    REQUIRE(fs::create_directory(P(dir.File("Fläche 名"))));
    const std::string archive = dir.File("Fläche 名/ö.dzp");
    REQUIRE(!writer.OpenZip(archive));
    CHECK(writer.Result() == 0);
    CHECK(writer.Reason() == "");
    CHECK(!writer.CloseZip());
    CHECK(fs::exists(P(archive)));
    CHECK(ReadWithPython(archive).error == "");
}

TEST_CASE("destructionClosesEntryThenArchive") {
    TempDir dir;
    const std::string archive = dir.File("destroyed.zip");
    {
        ZipWriter writer;
        REQUIRE(!writer.OpenZip(archive));
        CHECK(!writer.OpenFileInZip("done"));
        CHECK(!writer.WriteBytes(Span("complete")));
        CHECK(!writer.CloseFileInZip());
        CHECK(!writer.OpenFileInZip("cut"));
        CHECK(!writer.WriteBytes(Span("so far")));
    }
    const auto read = ReadWithPython(archive);
    REQUIRE(read.error == "");
    REQUIRE(read.names() == Names{"done", "cut"});
    CHECK(read.entries[1].sha256 == Sha256Hex("so far"));
}

// minizip ends an entry, and frees the archive, even when closing fails; the
// writer must follow, or it would stay "open" for good (or touch freed memory).
TEST_CASE("failedClosesLeaveNothingOpen") {
#ifdef _WIN32
    MESSAGE("skipped: needs /dev/full");
#else
    if (::access("/dev/full", W_OK) != 0) {
        Skip("needs /dev/full");
        return;
    }
    TempDir dir;
    ZipWriter writer;
    REQUIRE(!writer.OpenZip("/dev/full"));
    CHECK(!writer.OpenFileInZip("a"));
    CHECK(!writer.WriteBytes(Span("lost")));
    CHECK(writer.CloseFileInZip());
    CHECK(writer.Result() != 0);
    // What /dev/full says to every write, not just a number.
    CHECK(writer.Reason() == ReasonOf(std::make_error_code(std::errc::no_space_on_device)));
    CHECK(!writer.IsFileOpen());
    CHECK(writer.CloseZip());
    CHECK(writer.Result() != 0);
    CHECK(writer.Reason() == ReasonOf(std::make_error_code(std::errc::no_space_on_device)));
    CHECK(!writer.IsArchiveOpen());
    CHECK(!writer.OpenZip(dir.File("after.zip")));
    CHECK(writer.Reason() == "");
    CHECK(!writer.CloseZip());
#endif
}
