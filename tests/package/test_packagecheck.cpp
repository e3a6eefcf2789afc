// The package check on packages our own Zipper packs from a generated frames
// folder, and on packages Python's zipfile makes with one thing broken each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <tuple>

#include "common/FrameSequence.h"
#include "extract/Extraction.h"
#include "package/FolderWalk.h"
#include "package/PackageCheck.h"
#include "package/Templates.h"
#include "support/CoreTest.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

constexpr int kFrames = 30;

// Writes a package from (name, file) pairs with Python's zipfile, then applies
// "flip NAME" (one byte of that entry's stored data inverted) and each patch
// (NAME, offset in its local header, offset in its central record (-1: left
// alone), hex bytes written there).
const char* kMakeZip = R"PY(
import json, struct, sys, zipfile
job = json.loads(sys.argv[1])
method = zipfile.ZIP_STORED if job["stored"] else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(job["out"], "w", method) as z:
    for name, path in job["entries"]:
        z.write(path, name)
if job["flip"]:
    with zipfile.ZipFile(job["out"]) as z:
        info = z.getinfo(job["flip"])
    with open(job["out"], "r+b") as f:
        f.seek(info.header_offset + 26)
        name_len, extra_len = struct.unpack("<HH", f.read(4))
        at = info.header_offset + 30 + name_len + extra_len + info.compress_size // 2
        f.seek(at)
        byte = f.read(1)[0]
        f.seek(at)
        f.write(bytes([byte ^ 0xFF]))
if job["patch"]:
    with zipfile.ZipFile(job["out"]) as z:
        infos, at = z.infolist(), z.start_dir
    with open(job["out"], "r+b") as f:
        data = bytearray(f.read())
        for info in infos:
            for name, local, central, new in job["patch"]:
                for base, offset in ((info.header_offset, local), (at, central)):
                    if name == info.filename and offset >= 0:
                        data[base + offset:base + offset + len(new) // 2] = bytes.fromhex(new)
            at += 46 + sum(struct.unpack("<HHH", data[at + 28:at + 34]))
        f.seek(0)
        f.write(data)
)PY";

std::string Utf16Text(const std::string& bytes) {
    std::u16string units;
    for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                       (static_cast<unsigned char>(bytes[at + 1]) << 8));
    }
    return Utf8FromUtf16(units).value_or(std::string());
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

// text (ASCII) in code units of width bytes, big- or little-endian, after mark.
std::string Encoded(const std::string& text, int width, bool bigEndian, const std::string& mark) {
    std::string bytes = mark;
    for (const char c : text) {
        for (int i = 0; i < width; ++i) {
            bytes += (bigEndian ? i == width - 1 : i == 0) ? c : '\0';
        }
    }
    return bytes;
}

// A template made hostile: "doctype" (as UTF-8), "doctype16" (as UTF-16BE
// without a mark, so its declaration shows only once decoded), "entity" (entities
// nested to a billion characters in the ALIAS) or "big" (300 KiB).
std::string Hostile(const std::string& kind, std::string text) {
    const std::size_t prolog = text.find("?>") + 2;
    if (kind == "doctype" || kind == "doctype16") {
        text.insert(prolog, "<!DOCTYPE CTemplate SYSTEM \"/etc/passwd\">");
        return kind == "doctype" ? ReplaceAll(text, "UTF-16", "UTF-8") : Encoded(text, 2, true, "");
    }
    std::string laughs = "<!DOCTYPE TEMPLATE_MGR [<!ENTITY l0 \"lol\">";
    for (int n = 1; n <= 9; ++n) {
        laughs += "<!ENTITY l" + std::to_string(n) + " \"" +
                  ReplaceAll("##########", "#", "&l" + std::to_string(n - 1) + ";") + "\">";
    }
    text.insert(prolog, kind == "entity" ? laughs + "]>" : std::string(300 << 10, ' '));
    return Utf16File(ReplaceAll(text, "ALIAS=\"Fire\"", "ALIAS=\"&l9;\""));
}

bool Contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

using Entries = std::vector<std::pair<std::string, std::string>>;

// The road's frames folder, made once for every case, and fresh names beside it.
class Road {
public:
    static Road& Get() {
        static Road road;
        return road;
    }

    std::string frames;  // the frames folder as the road leaves it
    bool ready = false;

    std::string Fresh(const std::string& name) {
        return mRoot.File(std::to_string(++mCase) + "-" + name);
    }

    // The frames folder's files, as (entry name, path).
    Entries Files() const {
        Entries entries;
        for (const auto& entry : fs::directory_iterator(P(frames))) {
            const std::string name = Utf8Of(entry.path().filename());
            if (entry.is_regular_file() && !name.starts_with('.')) {
                entries.emplace_back(".\\" + name, frames + "/" + name);
            }
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    // The folder packed by the core's walk and Zipper, as the window and the converter pack it.
    static bool PackWithZipper(const std::string& folder, const std::string& package) {
        Zipper zipper;
        zipper.SetTickInterval(0);
        WalkReport walk;
        if (!AddFolderToZip(zipper, folder + '/', "", 2000, walk)) {
            return false;
        }
        bool complete = false;
        bool error = false;
        zipper.Events.Complete = [&complete](bool) { complete = true; };
        zipper.Events.Error = [&error] { error = true; };
        if (zipper.Zip(package)) {
            return false;
        }
        while (zipper.Zipping()) {
            zipper.Tick();
        }
        return complete && !error;
    }

    // One edit of the road's files, then packed by Python. Edits: "drop NAME",
    // "add NAME", "utf8 NAME" (a template as UTF-8), "set NAME FROM TO" (in a
    // template's text), "hostile NAME KIND" (see Hostile), "big N" (N entries of 1 MiB), "stored",
    // "flip NAME", "patch NAME LOCAL CENTRAL HEX", "none" (no entries).
    bool PackWithPython(const std::vector<std::string>& edits, const std::string& package) {
        Entries entries = Files();
        bool stored = false;
        std::string flip;
        std::string patches;
        auto replace = [&](const std::string& name, const std::string& bytes) {
            const std::string path = Fresh("edited");
            for (auto& entry : entries) {
                if (entry.first == name) {
                    entry.second = path;
                }
            }
            return WriteFile(path, bytes);
        };
        auto pathOf = [&](const std::string& name) {
            for (const auto& entry : entries) {
                if (entry.first == name) {
                    return entry.second;
                }
            }
            return std::string();
        };
        for (const std::string& edit : edits) {
            const std::vector<std::string> words = Split(edit, ' ');
            const std::string& verb = words[0];
            if (verb == "drop") {
                std::erase_if(entries, [&](const auto& entry) { return entry.first == words[1]; });
            } else if (verb == "add") {
                const std::string path = Fresh("added");
                if (!WriteFile(path, "extra")) {
                    return false;
                }
                entries.emplace_back(words[1], path);
            } else if (verb == "utf8") {
                const std::string text = Utf16Text(ReadAll(pathOf(words[1])));
                if (!replace(words[1], "\xEF\xBB\xBF" + text)) {
                    return false;
                }
            } else if (verb == "set") {
                const std::string text = Utf16Text(ReadAll(pathOf(words[1])));
                if (text.find(words[2]) == std::string::npos) {
                    return false;
                }
                const std::string to = words.size() > 3 ? words[3] : std::string();
                if (!replace(words[1], Utf16File(ReplaceAll(text, words[2], to)))) {
                    return false;
                }
            } else if (verb == "hostile") {
                if (!replace(words[1], Hostile(words[2], Utf16Text(ReadAll(pathOf(words[1])))))) {
                    return false;
                }
            } else if (verb == "big") {
                // Enough data for the check to split the reading between two threads.
                for (int n = 1; n <= std::stoi(words[1]); ++n) {
                    const std::string path = Fresh("noise");
                    if (!WriteNoise(path, 1 << 20, n)) {
                        return false;
                    }
                    entries.emplace_back(".\\Noise" + std::to_string(n) + ".bin", path);
                }
            } else if (verb == "stored") {
                stored = true;
            } else if (verb == "flip") {
                flip = words[1];
            } else if (verb == "patch") {
                patches += (patches.empty() ? "[" : ",[") + JsonString(words[1]) + "," + words[2] +
                           "," + words[3] + "," + JsonString(words[4]) + "]";
            } else if (verb == "none") {
                entries.clear();
            } else {
                return false;
            }
        }
        std::string job = "{\"out\":" + JsonString(HostPath(package)) +
                          ",\"stored\":" + (stored ? "true" : "false") +
                          ",\"flip\":" + JsonString(flip) + ",\"patch\":[" + patches +
                          "],\"entries\":[";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            job += (i == 0 ? "[" : ",[") + JsonString(entries[i].first) + "," +
                   JsonString(HostPath(entries[i].second)) + "]";
        }
        job += "]}";
        const ToolRun run = RunTool("python3", {"-W", "ignore", "-c", kMakeZip, job});
        if (run.exitCode != 0) {
            MESSAGE(run.err);
        }
        return run.exitCode == 0;
    }

private:
    Road() {
        frames = mRoot.File("Fire frames");
        ready = fs::create_directories(P(frames));
        for (int n = 1; n <= kFrames; ++n) {
            ready = ready && WriteNoise(frames + '/' + FrameName("Fire", n), 2000 + n * 37, n);
        }
        ready = ready && WriteNoise(frames + "/Thumb.jpg", 3000, 99);
        std::error_code error;
        ready = ready && fs::copy_file(P(frames + "/Thumb.jpg"), P(frames + "/Thumb.png"), error);
        ready = ready && WriteTemplateXml(frames, {"CUSTOM", "General", "Fire"}).ok;
        ready =
            ready && WriteTemplateClt(frames, "Fire_00001.jpg", AnimationDurationFor(kFrames)).ok;
    }

    TempDir mRoot;
    int mCase = 0;
};

bool Cut(const std::string& package, double fraction, int64_t fromEnd) {
    std::error_code error;
    const auto size = static_cast<int64_t>(fs::file_size(P(package), error));
    if (error) {
        return false;
    }
    fs::resize_file(P(package),
                    static_cast<uintmax_t>(fromEnd > 0 ? size - fromEnd
                                                       : static_cast<int64_t>(size * fraction)),
                    error);
    return !error;
}

struct CheckRow {
    std::string name;
    std::string made;  // "zipper", "python", "bytes", "missing", "folder"
    std::vector<std::string> edits;
    PackageCheckLevel level;
    std::string fault;
    std::string note;
    bool stranger = false;  // refused at once, with no growth of memory
};

// Each row: how the package is made, the level checked, and what must be
// found: a fault line holding `fault` (none at all when it is empty), and a
// note holding `note` (none when empty).
std::vector<CheckRow> CheckRows() {
    const auto whole = PackageCheckLevel::Whole;
    const auto needed = PackageCheckLevel::NeededFiles;
    const auto archive = PackageCheckLevel::Archive;
    const std::string clt = ".\\TitleTemplate.clt";
    const std::string xml = ".\\TitleTemplate.xml";

    // Hostile templates, refused at once: first, while this process's peak memory is low.
    const auto stranger = [](const std::string& edit, PackageCheckLevel level,
                             const std::string& fault) {
        return CheckRow{edit, "python", {"hostile " + edit}, level, fault, "", true};
    };
    std::vector<CheckRow> rows = {
        stranger(xml + " doctype", whole, xml + ": it holds a document type declaration"),
        stranger(xml + " entity", whole, xml + ": it holds an entity declaration"),
        stranger(clt + " big", needed, "bytes long, far too large for a template"),
        stranger(clt + " doctype16", needed, clt + ": it holds a document type declaration"),
        {"our road", "zipper", {}, whole, "", ""},
        {"our road, extra files and a subfolder",
         "zipper",
         {"extras"},
         whole,
         "",
         "1 file in a subfolder, which the particle does not use: .\\Sub\\x.jpg"},
        {"python, deflated", "python", {}, whole, "", ""},
        {"python, stored", "python", {"stored"}, whole, "", ""},
        {"extra top-level file is a note",
         "python",
         {"add .\\ReadMe.txt"},
         whole,
         "",
         "1 extra file, which the particle does not use: .\\ReadMe.txt"},
        {"no such file", "missing", {}, whole, "there is no such file", ""},
        {"a folder", "folder", {}, whole, "this is a folder, not a package", ""},
        {"empty file", "bytes", {"empty"}, whole, "the file is empty: it is not a ZIP archive", ""},
        {"not a ZIP", "bytes", {"text"}, whole, "the file is not a ZIP archive", ""},
    };
    for (const char* fraction : {"0.1", "0.5", "0.9"}) {
        rows.push_back(
            {"cut at " + std::to_string(static_cast<int>(std::stod(fraction) * 100)) + "%",
             "zipper",
             {std::string("cut ") + fraction},
             archive,
             "the archive is cut short or damaged",
             ""});
    }
    const std::vector<CheckRow> more = {
        {"cut by 1 byte", "zipper", {"cut -1"}, archive, "the archive is cut short", ""},
        {"cut by its end record", "zipper", {"cut -22"}, archive, "cut short or damaged", ""},
        {"third record of the contents damaged",
         "zipper",
         {"break record 3"},
         archive,
         "damaged after 2 of its",
         ""},
        {"a frame's bytes flipped",
         "python",
         {"flip .\\Fire_00003.jpg"},
         archive,
         ".\\Fire_00003.jpg: its data do not match their CRC",
         ""},
        {"a template's bytes flipped",
         "python",
         {"flip .\\TitleTemplate.xml"},
         archive,
         xml + ": its",
         ""},
        {"a stored entry's bytes flipped",
         "python",
         {"stored", "flip .\\Thumb.png"},
         archive,
         ".\\Thumb.png: its data do not match their CRC",
         ""},
        {"large, read by two threads",
         "python",
         {"big 12"},
         whole,
         "",
         "12 extra files, which the particle does not use: .\\Noise1.bin"},
        {"large, flipped late",
         "python",
         {"big 12", "flip .\\Noise12.bin"},
         needed,
         ".\\Noise12.bin: its data do not match their CRC",
         ""},
        {"large, flipped early",
         "python",
         {"big 12", "flip .\\Fire_00002.jpg"},
         needed,
         ".\\Fire_00002.jpg: its data do not match their CRC",
         ""},
        {"record not UTF-16",
         "python",
         {"utf8 .\\TitleTemplate.xml"},
         whole,
         xml + ": it is not UTF-16 text",
         ""},
        {"script not UTF-16 fails the read-back too",
         "python",
         {"utf8 .\\TitleTemplate.clt"},
         needed,
         clt + ": it is not UTF-16 text",
         ""},
        {"script not well-formed",
         "python",
         {"set .\\TitleTemplate.clt </CTemplate>"},
         needed,
         clt + ": it is not well-formed XML",
         ""},
        {"script with its placeholder",
         "python",
         {"set .\\TitleTemplate.clt Fire_00001.jpg {{FIRSTFILENAME}}"},
         needed,
         clt + ": its AnimationImage \"{{FIRSTFILENAME}}\" still holds a placeholder",
         ""},
        {"record without ALIAS",
         "python",
         {"set .\\TitleTemplate.xml ALIAS= NAME="},
         whole,
         xml + ": it has no ALIAS in <TEMPLATE>",
         ""},
        {"record with an empty CATEGORY",
         "python",
         {"set .\\TitleTemplate.xml \"General\" \"\""},
         whole,
         xml + ": its CATEGORY is empty",
         ""},
        {"missing first frame",
         "python",
         {"drop .\\Fire_00001.jpg"},
         needed,
         ".\\Fire_00001.jpg: it is missing: it is the first frame the script names",
         ""},
        {"missing thumbnail",
         "python",
         {"drop .\\Thumb.png"},
         needed,
         ".\\Thumb.png: it is missing",
         ""},
        {"missing script",
         "python",
         {"drop .\\TitleTemplate.clt"},
         needed,
         clt + ": it is missing",
         ""},
        {"0 entries", "python", {"none"}, needed, "the archive holds no entries", ""},
        {"0 entries read back after a cancel", "python", {"none"}, archive, "", ""},
        {"gap in the frames",
         "python",
         {"drop .\\Fire_00010.jpg"},
         whole,
         ".\\Fire_00010.jpg: it is missing: the frames run from .\\Fire_00001.jpg to "
         ".\\Fire_00030.jpg",
         ""},
        {"gap is no fault of the read-back", "python", {"drop .\\Fire_00010.jpg"}, needed, "", ""},
        {"duration not of the frames",
         "python",
         {"set .\\TitleTemplate.clt AnimationDuration=\"1000\" AnimationDuration=\"1100\""},
         whole,
         clt + ": its AnimationDuration is 1100 ms, but the 30 frames from "
               ".\\Fire_00001.jpg on last 1000 ms",
         ""},
        {"frames beyond the last counted",
         "python",
         {"add .\\Fire_00031.jpg"},
         whole,
         clt + ": its AnimationDuration is 1000 ms, but the 31 frames",
         ""},
        {"frames before the first are a note",
         "python",
         {"set .\\TitleTemplate.clt Fire_00001.jpg Fire_00002.jpg",
          "set .\\TitleTemplate.clt \"1000\" \"967\""},
         whole,
         "",
         "1 frame numbered before the first frame .\\Fire_00002.jpg, not part of the "
         "animation"},
        {"name without .\\",
         "python",
         {"add Notes.txt"},
         whole,
         "Notes.txt: its name does not start with .\\",
         ""},
        {"name marked UTF-8",
         "python",
         {"add .\\Caf\u00e9.jpg"},
         whole,
         ".\\Caf\u00e9.jpg: its name is marked as UTF-8",
         ""},
        {"name with /",
         "python",
         {"add .\\Sub/Notes.txt"},
         whole,
         ".\\Sub/Notes.txt: its name holds \"/\"",
         ""},
        {"encrypted: the flag in both headers",
         "python",
         {"patch .\\Fire_00003.jpg 6 8 0100"},
         archive,
         ".\\Fire_00003.jpg: it is encrypted, which the host cannot read",
         ""},
        {"method 12 in both headers",
         "python",
         {"patch .\\Fire_00003.jpg 8 10 0c00"},
         archive,
         ".\\Fire_00003.jpg: it is compressed with method 12; the host reads only deflate (8) "
         "and stored (0)",
         ""},
        {"local header says stored",
         "python",
         {"patch .\\Fire_00003.jpg 8 -1 0000"},
         archive,
         ".\\Fire_00003.jpg: its local header does not match the table of contents",
         ""},
        {"name byte outside the code page",
         "python",
         {"add .\\ReadMe.txt", "patch .\\ReadMe.txt 32 48 81"},
         whole,
         ": its name holds the byte 0x81",
         ""},
        {"folder entry is a note",
         "python",
         {"add .\\Sub\\"},
         whole,
         "",
         "folder entries, which the host skips: .\\Sub\\"},
        {"first frame not numbered is a note",
         "python",
         {"add .\\Still.jpg", "set .\\TitleTemplate.clt Fire_00001.jpg Still.jpg"},
         whole,
         "",
         "the first frame .\\Still.jpg is not named NAME_NNNNN.jpg, so its frames and duration "
         "were not checked"},
        {"duration not a number",
         "python",
         {"set .\\TitleTemplate.clt AnimationDuration=\"1000\" AnimationDuration=\"1s\""},
         whole,
         clt + ": its AnimationDuration \"1s\" is not a number of milliseconds",
         ""},
        {"entry twice",
         "python",
         {"add .\\Thumb.jpg"},
         whole,
         ".\\Thumb.jpg: it is in the archive 2 times",
         ""},
    };
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

}  // namespace

#ifdef __SANITIZE_ADDRESS__
// The sanitizer's allocator holds freed blocks back and runs several times slower:
// there only the refusal itself is checked.
constexpr bool kTimeAndMemoryMeasurable = false;
#else
constexpr bool kTimeAndMemoryMeasurable = true;
#endif

TEST_CASE("check") {
    Road& road = Road::Get();
    REQUIRE(road.ready);
    const std::vector<CheckRow> rows = CheckRows();
    for (const CheckRow& row : rows) {
        CAPTURE(row.name);
        const std::string package = road.Fresh("Fire.dzp");
        if (row.made == "zipper") {
            std::string folder = road.frames;
            if (Contains(row.edits, "extras")) {
                folder = road.Fresh("frames");
                REQUIRE(fs::create_directories(P(folder + "/Sub")));
                for (const auto& [name, path] : road.Files()) {
                    REQUIRE(fs::copy_file(P(path), P(folder + '/' + name.substr(2))));
                }
                REQUIRE(WriteFile(folder + "/Sub/x.jpg", "x"));
            }
            REQUIRE(Road::PackWithZipper(folder, package));
            REQUIRE(UnzipTestsClean(package));
            for (const std::string& edit : row.edits) {
                if (edit.starts_with("cut ")) {
                    const double at = std::stod(edit.substr(4));
                    REQUIRE(Cut(package, at, at < 0 ? static_cast<int64_t>(-at) : 0));
                } else if (edit.starts_with("break record ")) {
                    // The signature of the n-th central directory record made unreadable.
                    std::string bytes = ReadAll(package);
                    std::size_t at = std::string::npos;
                    for (int n = std::stoi(edit.substr(13)); n > 0; --n) {
                        at = bytes.find("PK\x01\x02", at == std::string::npos ? 0 : at + 4);
                        REQUIRE(at != std::string::npos);
                    }
                    bytes[at + 2] = '\x09';
                    REQUIRE(WriteFile(package, bytes));
                }
            }
        } else if (row.made == "python") {
            REQUIRE(road.PackWithPython(row.edits, package));
        } else if (row.made == "folder") {
            REQUIRE(MakeFolder(package));
        } else if (row.made == "bytes") {
            REQUIRE(WriteFile(package, Contains(row.edits, "text") ? "just some text\n" : ""));
        }

        const int64_t peak = PeakMemoryBytes();
        const auto started = std::chrono::steady_clock::now();
        const PackageCheck check = CheckPackage(package, row.level);
        if (row.stranger && kTimeAndMemoryMeasurable) {
            const auto took = std::chrono::steady_clock::now() - started;
            // Parsed, the entities took 0.4 s and 3.5 MiB before expat gave up; refused,
            // 2-55 ms, and the peak grows 0-1.2 MiB (under Wine, which grows in steps).
            CHECK(took < std::chrono::milliseconds(250));
            REQUIRE(peak > 0);
            CHECK(PeakMemoryBytes() - peak < (2 << 20));
        }
        const std::string lines = Join(check.FaultLines(), "\n");
        INFO("faults: ", lines);
        // What the row breaks is the first fault named.
        CHECK(check.IsWhole() == row.fault.empty());
        CHECK(lines.substr(0, lines.find('\n')).find(row.fault) != std::string::npos);
        const std::string notes = Join(check.notes, "\n");
        INFO("notes: ", notes);
        if (row.note.empty()) {
            CHECK(check.notes.empty());
        } else {
            CHECK(notes.find(row.note) != std::string::npos);
        }
    }
}

// A document type is refused in each encoding a file may declare, marked or not.
TEST_CASE("document type in any encoding") {
    const std::string text = "<?xml version=\"1.0\"?><!DOCTYPE TEMPLATE_MGR><TEMPLATE_MGR/>";
    for (const auto& [width, bigEndian, mark] :
         std::vector<std::tuple<int, bool, std::string>>{{1, false, ""},
                                                         {1, false, "\xEF\xBB\xBF"},
                                                         {2, false, "\xFF\xFE"},
                                                         {2, false, ""},
                                                         {2, true, "\xFE\xFF"},
                                                         {2, true, ""},
                                                         {4, false, std::string("\xFF\xFE\0\0", 4)},
                                                         {4, true, ""}}) {
        INFO(width, bigEndian, mark.size());
        CHECK(ReadTemplateXml(Encoded(text, width, bigEndian, mark)).faults ==
              std::vector<std::string>{"it holds a document type declaration"});
    }
}

// The read-back a build runs: the needed files, or after a cancel the archive alone,
// and its message names the fault.
TEST_CASE("readBack") {
    Road& road = Road::Get();
    REQUIRE(road.ready);
    const std::string package = road.Fresh("Fire.dzp");
    REQUIRE(road.PackWithPython({"drop .\\Thumb.jpg"}, package));
    CHECK(ReadBackPackage(package, true).IsWhole());
    const PackageCheck check = ReadBackPackage(package, false);
    CHECK(check.FaultLines() == std::vector<std::string>{".\\Thumb.jpg: it is missing"});
    const std::string text = ReadBackFailureText(package, check);
    INFO(text);
    CHECK(text.starts_with("The package "));
    CHECK(
        text.ends_with(" was written but does not read back whole:\r\n"
                       ".\\Thumb.jpg: it is missing"));
}

TEST_CASE("frames") {
    struct Row {
        const char* name;
        std::string first;
        std::vector<std::string> names;
        bool numbered;
        int count;
        int last;
        int missingCount;
        int earlier;
        bool unbroken;  // a run of frames from the first on, none missing
    };
    const std::vector<std::string> three{"A_00001.jpg", "A_00002.jpg", "A_00003.jpg"};
    const Row rows[] = {
        {"unbroken", "A_00001.jpg", three, true, 3, 3, 0, 0, true},
        {"from the second on", "A_00002.jpg", three, true, 2, 3, 0, 1, true},
        {"a gap",
         "A_00001.jpg",
         {"A_00001.jpg", "A_00004.jpg", "Thumb.png"},
         true,
         2,
         4,
         2,
         0,
         false},
        {"other spellings are not frames",
         "A_00001.jpg",
         {"A_00001.jpg", "A_0002.jpg", "A_000003.jpg", "a_00002.jpg", "A_00002.JPG", "B_00002.jpg"},
         true,
         1,
         1,
         0,
         0,
         true},
        {"beyond five digits",
         "A_99999.jpg",
         {"A_99999.jpg", "A_100000.jpg"},
         true,
         2,
         100000,
         0,
         0,
         true},
        {"prefix with blanks and _",
         "My_Clip_2_00001.jpg",
         {"My_Clip_2_00001.jpg", "My_Clip_2_00002.jpg"},
         true,
         2,
         2,
         0,
         0,
         true},
        {"first frame not numbered", "still.jpg", {"still.jpg"}, false, 0, 0, 0, 0, false},
        {"a far-off number",
         "A_00001.jpg",
         {"A_00001.jpg", "A_2000000000.jpg"},
         true,
         2,
         2000000000,
         1999999998,
         0,
         false},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        const FrameSequence frames = FramesFrom(row.first, row.names);
        CHECK(frames.numbered == row.numbered);
        CHECK(frames.count == row.count);
        CHECK(frames.last == row.last);
        CHECK(frames.missingCount == row.missingCount);
        CHECK(frames.earlier == row.earlier);
        CHECK(frames.missing.size() <= static_cast<std::size_t>(kMissingFramesKept));
        CHECK(frames.Unbroken() == row.unbroken);
    }
}
