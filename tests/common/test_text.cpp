#include <string>

#include "common/Files.h"
#include "common/Text.h"
#include "platform/CodePage.h"
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
