#include <string>

#include "common/Files.h"
#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/Disk.h"
#include "platform/PathForms.h"
#include "support/CoreTest.h"

using namespace sparkloom;
using namespace sparkloom::test;

TEST_CASE("UTF-8 names reach the file system as themselves and come back unchanged") {
    TempDir dir;
    for (const std::string name : {"Zoë", "Видео", "火.mp4", "a b", "emoji 🎆.jpg"}) {
        CAPTURE(name);
        const std::string path = dir.File(name);
        REQUIRE(WriteFile(path, name));
        CHECK(FileExists(path));
        CHECK(ReadAll(path) == name);
        // Python lists the folder with the name's own bytes.
        const ToolRun listed = RunTool(
            "python3", {"-c",
                        "import os,sys; "
                        "sys.stdout.buffer.write(b'\\n'.join(os.listdir(sys.argv[1].encode())))",
                        dir.Text()});
        CHECK(listed.out.find(name) != std::string::npos);
        CHECK(Utf8Of(PathFromUtf8(path).filename()) == name);
        std::filesystem::remove(P(path));
    }
}

TEST_CASE("UTF-16 conversions round-trip and refuse what is not text") {
    const std::string samples[] = {"", "plain", "Zoë", "€‚ƒ", "火", "🎆 x"};
    for (const std::string& text : samples) {
        CAPTURE(text);
        const auto utf16 = Utf16FromUtf8(text);
        REQUIRE(utf16);
        CHECK(Utf8FromUtf16(*utf16) == text);
        CHECK(Utf16Length(text) == utf16->size());
    }
    for (const std::string& bad :
         {std::string("\xC3"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
          std::string("\xF8\x88\x80\x80\x80")}) {
        CHECK_FALSE(IsUtf8(bad));
        CHECK_FALSE(Utf16FromUtf8(bad));
    }
    CHECK_FALSE(Utf8FromUtf16(std::u16string(1, char16_t(0xD800))));
    CHECK_FALSE(Utf8FromUtf16(std::u16string(1, char16_t(0xDC00))));
}

TEST_CASE("The host code page agrees with Python's cp1252 for every byte") {
    // Python's codec is the independent reader: the five bytes it leaves
    // undefined must be refused by the encoder and read as U+FFFD.
    const ToolRun python =
        RunTool("python3",
                {"-c",
                 "import sys\n"
                 "for b in range(256):\n"
                 "    print(bytes([b]).decode('cp1252', errors='replace').encode('utf-8').hex())"});
    REQUIRE(python.exitCode == 0);
    const std::vector<std::string> lines = Split(python.out, '\n');
    REQUIRE(lines.size() >= 256);
    for (int b = 0; b < 256; ++b) {
        CAPTURE(b);
        const std::string byte(1, static_cast<char>(b));
        std::string expected;
        for (std::size_t i = 0; i + 1 < lines[b].size(); i += 2) {
            expected += static_cast<char>(std::stoi(lines[b].substr(i, 2), nullptr, 16));
        }
        CHECK(platform::FromHostCodePage(byte) == expected);
        if (expected != "\xEF\xBF\xBD") {
            CHECK(platform::ToHostCodePage(expected) == byte);
        }
    }
    CHECK_FALSE(platform::ToHostCodePage("火"));
    CHECK_FALSE(platform::ToHostCodePage("\xEF\xBF\xBD"));
    CHECK_FALSE(platform::ToHostCodePage("\xC3"));
}

TEST_CASE("Windows path forms: the long form and back, drive roots on entry") {
    struct Row {
        const char* name;
        std::string path;
        std::string extended;  // ExtendedLengthForm
        std::string plain;     // PlainForm of that
        std::string onEntry;   // FolderOnEntry
    };
    const Row rows[] = {
        {"drive path", "C:\\a\\b.jpg", "\\\\?\\C:\\a\\b.jpg", "C:\\a\\b.jpg", "C:\\a\\b.jpg"},
        {"slashes, dots, doubled separators", "c:/a/./b/../c//d/", "\\\\?\\c:\\a\\c\\d",
         "c:\\a\\c\\d", "c:/a/./b/../c//d/"},
        {"drive root", "E:\\", "\\\\?\\E:\\", "E:\\", "E:\\"},
        {"drive root by slash", "E:/", "\\\\?\\E:\\", "E:\\", "E:/"},
        {"no climbing above the root", "C:\\..\\a", "\\\\?\\C:\\a", "C:\\a", "C:\\..\\a"},
        {"drive alone", "E:", "E:", "E:", "E:\\"},
        {"drive-relative", "E:frames", "E:frames", "E:frames", "E:frames"},
        {"share", "\\\\server\\share\\dir\\f.jpg", "\\\\?\\UNC\\server\\share\\dir\\f.jpg",
         "\\\\server\\share\\dir\\f.jpg", "\\\\server\\share\\dir\\f.jpg"},
        {"share root", "\\\\server\\share", "\\\\?\\UNC\\server\\share", "\\\\server\\share",
         "\\\\server\\share"},
        {"share keeps its root", "//srv/sh/a/../../b", "\\\\?\\UNC\\srv\\sh\\b", "\\\\srv\\sh\\b",
         "//srv/sh/a/../../b"},
        {"relative", "frames\\a", "frames\\a", "frames\\a", "frames\\a"},
        {"rooted without a drive", "\\frames", "\\frames", "\\frames", "\\frames"},
        {"already long", "\\\\?\\C:\\a/b", "\\\\?\\C:\\a/b", "C:\\a/b", "\\\\?\\C:\\a/b"},
        {"already long share", "\\\\?\\UNC\\s\\x", "\\\\?\\UNC\\s\\x", "\\\\s\\x",
         "\\\\?\\UNC\\s\\x"},
        {"device", "\\\\.\\COM1", "\\\\.\\COM1", "\\\\.\\COM1", "\\\\.\\COM1"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        CHECK(platform::ExtendedLengthForm(row.path) == row.extended);
        CHECK(platform::PlainForm(row.extended) == row.plain);
        CHECK(platform::FolderOnEntry(row.path) == row.onEntry);
    }
}

TEST_CASE("Names Windows keeps for devices or changes are refused, naming the path") {
    const std::string device = " cannot be used: Windows keeps the name ";
    const std::string dropped =
        " cannot be used: Windows drops the dot or blank at the end of a name.";
    struct Row {
        std::string path;
        std::string refusal;
    };
    const Row rows[] = {
        {"out/CON", "out/CON" + device + "CON for a device."},
        {"out/con.dzp", "out/con.dzp" + device + "con for a device."},
        {"out/Nul.tar.gz", "out/Nul.tar.gz" + device + "Nul for a device."},
        {"out/aux .txt", "out/aux .txt" + device + "aux for a device."},
        {"PRN", "PRN" + device + "PRN for a device."},
        {"out/COM1", "out/COM1" + device + "COM1 for a device."},
        {"out/lpt9.jpg", "out/lpt9.jpg" + device + "lpt9 for a device."},
        {"out/COM\u00b9", "out/COM\u00b9" + device + "COM\u00b9 for a device."},
        {"out/Lpt\u00b3.dzp", "out/Lpt\u00b3.dzp" + device + "Lpt\u00b3 for a device."},
        {"out/CON/", "out/CON/" + device + "CON for a device."},
        {"out/frames.", "out/frames." + dropped},
        {"out/Fire ", "out/Fire " + dropped},
        {"out/COM0", ""},
        {"out/COM10", ""},
        {"out/LPT\u00b2x", ""},
        {"out/CONSOLE.dzp", ""},
        {"out/CON_frames/CON_00001.jpg", ""},
        {"out/NUL/fire.dzp", ""},
        {"out/fire.dzp", ""},
        {"/", ""},
    };
    for (const Row& row : rows) {
        CAPTURE(row.path);
        const std::string shown = row.refusal.empty() ? "" : Shown(row.path);
        CHECK(ReservedNameRefusal(row.path) ==
              (row.refusal.empty() ? "" : shown + row.refusal.substr(row.path.size())));
    }
}

// A path past MAX_PATH: made, written, listed and measured through the core's crossings.
TEST_CASE("Paths of 300 characters work") {
    TempDir dir;
    std::string folder = dir.Text();
    while (folder.size() < 290) {
        folder += "/deep folder " + std::to_string(folder.size());
    }
    std::error_code error;
    REQUIRE_MESSAGE(fs::create_directories(PathFromUtf8(folder), error), ReasonOf(error));
    const std::string file = folder + "/Long_00001.jpg";
    REQUIRE(file.size() >= 300);
    REQUIRE(WriteFile(file, "frame"));
    CHECK(IsFile(file));
    CHECK(IsFolder(folder));
    CHECK(ReadAll(file) == "frame");
    const std::vector<platform::FolderEntry> listed =
        platform::ListFolder(PathFromUtf8(folder), error);
    REQUIRE_MESSAGE(listed.size() == 1, error.message());
    CHECK(listed[0].name == "Long_00001.jpg");
    CHECK(listed[0].kind == platform::FolderEntry::Kind::File);
    CHECK(platform::FreeBytes(PathFromUtf8(file)).value_or(0) > 0);
    CHECK(FullDiskReason(folder, 1).empty());
    CHECK(Shown(file).find('?') == std::string::npos);
}
