#include "package/FolderWalk.h"

#include <limits>

#include "common/FrameSequence.h"
#include "package/PackageQueue.h"
#include "package/Templates.h"
#include "support/CoreTest.h"
#include "zip/Zipper.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>

#include "package/PermissionOverride.h"
#endif

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

constexpr int32_t kMaxFiles = 2000;

bool Touch(const std::string& path, const std::string& content = "data") {
    return WriteFile(path, content);
}

std::string Numbered(int i) {
    std::string digits = std::to_string(i);
    return "Fire_" + std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits + ".jpg";
}

// Packs what the walk queued and returns the entries as another reader
// (Python's zipfile) sees them; one entry named by the failure when it fails.
std::vector<ArchiveEntry> Packed(Zipper& zipper, const std::string& archive) {
    zipper.SetTickInterval(0);
    if (zipper.Zip(archive)) {
        ArchiveEntry failed;
        failed.rawName = "Zip failed: " + zipper.Failed();
        return {failed};
    }
    while (zipper.Zipping()) {
        zipper.Tick();
    }
    std::vector<ArchiveEntry> entries;
    if (!ReadArchive(archive, entries)) {
        ArchiveEntry unread;
        unread.rawName = "the archive does not read back";
        return {unread};
    }
    return entries;
}

// The entry names as stored.
std::vector<std::string> PackedNames(Zipper& zipper, const std::string& archive) {
    std::vector<std::string> names;
    for (const ArchiveEntry& entry : Packed(zipper, archive)) {
        names.push_back(entry.rawName);
    }
    return names;
}

}  // namespace

// The cap counts ".", ".." and every listed entry; the names left out are
// the last ones in listing order, and the walk says how many.
TEST_CASE("capDropsTheLastNames") {
    TempDir dir;
    const std::string folder = dir.File("frames");
    REQUIRE(fs::create_directories(P(folder)));
    std::vector<std::string> expected;
    for (int i = 2100; i >= 1; --i) {  // created in reverse, so the walk must sort
        const std::string name = Numbered(i);
        REQUIRE(Touch(folder + "/" + name, name));
        expected.insert(expected.begin(), ".\\" + name);
    }
    Zipper zipper;
    WalkReport report;
    CHECK(AddFolderToZip(zipper, folder + "/", "", kMaxFiles, report));
    CHECK(zipper.QueuedCount() == 1998);
    CHECK(report.leftOut == 102);
    CHECK(report.statusMessage == "");

    expected.resize(1998);
    CHECK(PackedNames(zipper, dir.File("capped.dzp")) == expected);

    for (int i = 1999; i <= 2100; ++i) {
        REQUIRE(fs::remove(P(folder + "/" + Numbered(i))));
    }
    WalkReport all;
    CHECK(AddFolderToZip(zipper, folder + "/", "", kMaxFiles, all));
    CHECK(zipper.QueuedCount() == 1998);
    CHECK(all.leftOut == 0);
}

#ifndef _WIN32
// Linux only: a fifo, symbolic links and POSIX permissions.
TEST_CASE("whatIsPackedAndInWhichOrder") {
    TempDir dir;
    const std::string top = dir.File("frames") + "/";
    REQUIRE(fs::create_directories(P(top + "A/B")));
    REQUIRE(fs::create_directories(P(top + "c")));
    REQUIRE(fs::create_directories(P(top + ".cache")));
    for (const char* name : {"b.jpg", "a.jpg", "A.jpg", "_x.jpg", "Thumb.png", ".hidden.jpg",
                             "A/x.jpg", "A/B/y.jpg", "c/z.jpg", ".cache/w.jpg"}) {
        REQUIRE(Touch(top + name, name));
    }
    REQUIRE(Touch(top + "ro.jpg", "read-only"));
    fs::permissions(P(top + "ro.jpg"), fs::perms::owner_read | fs::perms::group_read,
                    fs::perm_options::replace);
    REQUIRE(::mkfifo((top + "pipe").c_str(), 0644) == 0);
    fs::create_symlink(P(top + "b.jpg"), P(top + "linked.jpg"));
    fs::create_directory_symlink(P(top + "A"), P(top + "loop"));  // not followed
    fs::create_symlink(P(top + "gone"), P(top + "dangling.jpg"));

    Zipper zipper;
    WalkReport report;
    CHECK(AddFolderToZip(zipper, top, "", kMaxFiles, report));
    CHECK(report.leftOut == 0);
    const std::vector<ArchiveEntry> read = Packed(zipper, dir.File("order.dzp"));
    std::vector<std::string> names;
    for (const ArchiveEntry& entry : read) {
        names.push_back(entry.rawName);
    }
    CHECK(names == std::vector<std::string>{".\\A.jpg", ".\\a.jpg", ".\\b.jpg", ".\\linked.jpg",
                                            ".\\ro.jpg", ".\\Thumb.png", ".\\_x.jpg", ".\\A\\x.jpg",
                                            ".\\A\\B\\y.jpg", ".\\c\\z.jpg"});
    REQUIRE(read.size() == 10);
    CHECK(read[4].externalAttr == 0x21u);  // read-only kept
    CHECK(read[4].data == "read-only");
    CHECK(read[3].data == "b.jpg");
    CHECK(read[8].data == "A/B/y.jpg");
}
#endif

// Names sort by their upper-cased forms as Windows would list them, Latin
// letters beyond ASCII included; equal forms case-sensitively.
TEST_CASE("namesSortAsTheHostLists") {
    TempDir dir;
    const std::string top = dir.Text() + "/";
    for (const char* name : {"b.jpg", "é.jpg", "Z.jpg", "_.jpg", "É.jpg", "ß.jpg", "st.jpg",
                             "Ÿ.jpg", "ÿ.jpg", "y.jpg", "Œ.jpg", "œ.jpg"}) {
        REQUIRE(Touch(top + name));
    }
    Zipper zipper;
    WalkReport report;
    REQUIRE(AddFolderToZip(zipper, top, "", kMaxFiles, report));
    // Upper-cased: B, É, Z, _, É, SS, ST, Ÿ (U+0178), Ÿ, Y, Œ (U+0152), Œ; "ÿ" (U+00FF)
    // goes before "Ÿ" (U+0178) as their forms are equal.
#ifdef _WIN32
    // A Windows folder holds one name of each upper-cased form, the one made first.
    CHECK(Join(report.topLevelFiles, " ") ==
          "b.jpg ß.jpg st.jpg y.jpg Z.jpg _.jpg é.jpg Œ.jpg Ÿ.jpg");
#else
    CHECK(Join(report.topLevelFiles, " ") ==
          "b.jpg ß.jpg st.jpg y.jpg Z.jpg _.jpg É.jpg é.jpg Œ.jpg œ.jpg ÿ.jpg Ÿ.jpg");
#endif
}

#ifdef _WIN32
// Explorer's desktop.ini and Thumbs.db carry the hidden or system attribute, and
// its listing leaves them out: so does the walk, folders included. Other files go in.
TEST_CASE("hiddenAndSystemEntriesAreNotWalked") {
    TempDir dir;
    const std::string top = dir.Text() + "\\";
    REQUIRE(MakeFolder(top + "kept"));
    REQUIRE(MakeFolder(top + "hid"));
    for (const char* name : {"desktop.ini", "Thumbs.db", "folder.jpg", "notes.txt",
                             "kept\\desktop.ini", "kept\\a.jpg", "hid\\b.jpg"}) {
        REQUIRE(Touch(top + name));
    }
    const std::pair<const char*, DWORD> attributes[] = {
        {"desktop.ini", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"Thumbs.db", FILE_ATTRIBUTE_HIDDEN},
        {"folder.jpg", FILE_ATTRIBUTE_SYSTEM},
        {"kept\\desktop.ini", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"hid", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN},
    };
    for (const auto& [name, set] : attributes) {
        const std::wstring path = P(top + name).wstring();
        REQUIRE(SetFileAttributesW(path.c_str(), set));
        REQUIRE((GetFileAttributesW(path.c_str()) & set) == set);
    }
    Zipper zipper;
    WalkReport report;
    REQUIRE(AddFolderToZip(zipper, top, "", kMaxFiles, report));
    CHECK(report.topLevelFiles == std::vector<std::string>{"notes.txt"});
    CHECK(PackedNames(zipper, dir.File("out.zip")) ==
          std::vector<std::string>{".\\notes.txt", ".\\kept\\a.jpg"});
}
#endif

// Each folder has its own count; an empty folder adds nothing.
TEST_CASE("capAppliesPerFolder") {
    TempDir dir;
    const std::string top = dir.Text() + "/";
    REQUIRE(fs::create_directories(P(top + "sub")));
    REQUIRE(fs::create_directories(P(top + "zempty")));
    for (const char* name : {"1.jpg", "2.jpg", "sub/1.jpg", "sub/2.jpg", "sub/3.jpg"}) {
        REQUIRE(Touch(top + name));
    }
    Zipper zipper;
    WalkReport report;
    // Top: ".", "..", 1.jpg, 2.jpg, sub taken; zempty left out.
    CHECK(AddFolderToZip(zipper, top, "", 5, report));
    CHECK(report.leftOut == 1);
    TempDir out;
    CHECK(PackedNames(zipper, out.File("cap.zip")) ==
          std::vector<std::string>{".\\1.jpg", ".\\2.jpg", ".\\sub\\1.jpg", ".\\sub\\2.jpg",
                                   ".\\sub\\3.jpg"});

    WalkReport empty;
    CHECK(AddFolderToZip(zipper, top + "zempty/", "", kMaxFiles, empty));
    CHECK(zipper.QueuedCount() == 0);
}

#ifndef _WIN32
// A file whose attributes cannot be read any more (gone, or no access) is
// refused by AddFile and stops the whole walk; what was queued stays. Linux
// only: POSIX permissions.
TEST_CASE("refusedFileStopsTheWalk") {
    TempDir dir;
    const std::string top = dir.Text() + "/";
    for (const char* folder : {"locked", "sub"}) {
        REQUIRE(fs::create_directories(P(top + folder)));
    }
    for (const char* name : {"a.jpg", "locked/x.jpg", "sub/s.jpg"}) {
        REQUIRE(Touch(top + name));
    }
    // Listable but not searchable: the names are there, their attributes are not.
    fs::permissions(P(top + "locked"), fs::perms::owner_read, fs::perm_options::replace);
    Zipper zipper;
    WalkReport report;
    {
        WithoutPermissionOverride asPlainUser;
        REQUIRE(asPlainUser.ok);
        CHECK_FALSE(AddFolderToZip(zipper, top, "", kMaxFiles, report));
    }
    // The system's reason follows the name.
    CHECK(report.statusMessage == "AddFile failed on x.jpg: " +
                                      ReasonOf(std::make_error_code(std::errc::permission_denied)));
    CHECK(zipper.QueuedCount() == 1);  // a.jpg; sub is not entered
    fs::permissions(P(top + "locked"), fs::perms::owner_all, fs::perm_options::replace);
    zipper.ClearFiles();

    // A byte total past 2 GiB is refused the same way, not thrown at the window.
    REQUIRE(Touch(top + "big.bin", ""));
    fs::resize_file(P(top + "big.bin"), std::numeric_limits<int32_t>::max());
    WalkReport overflow;
    CHECK_FALSE(AddFolderToZip(zipper, top, "", kMaxFiles, overflow));
    CHECK(overflow.statusMessage.starts_with("AddFile failed on big.bin: "));
}
#endif

// A user's own file of 2.2 GB beside the frames: the build is refused, and the
// status line says it is the builder's 2 GiB total, not the disk. The file is
// sparse, so it costs no disk.
TEST_CASE("hugeFileSaysWhy") {
    TempDir dir;
    const std::string folder = dir.File("Fire");
    REQUIRE(fs::create_directories(P(folder)));
    for (int n = 1; n <= 3; ++n) {
        REQUIRE(WriteNoise(folder + "/" + FrameName("Fire", n), 1000, n));
    }
    REQUIRE(WriteNoise(folder + "/Thumb.jpg", 500, 9));
    REQUIRE(WriteNoise(folder + "/Thumb.png", 500, 9));
    REQUIRE(WriteTemplateXml(folder, {"CUSTOM", "General", "Fire"}).ok);
    REQUIRE(WriteTemplateClt(folder, "Fire_00001.jpg", 100).ok);
    REQUIRE(Touch(folder + "/huge.bin", ""));
    fs::resize_file(P(folder + "/huge.bin"), 2'200'000'000);

    Zipper zipper;
    const QueueOutcome outcome =
        QueuePackage(zipper, PackageSource{folder, "Fire_00001.jpg", "Fire", 3, kMaxFiles},
                     [](int) { return true; });
    CHECK_FALSE(outcome.ok);
    CHECK(zipper.QueuedCount() == 0);
    INFO(outcome.statusMessage);
    CHECK(outcome.statusMessage.starts_with("AddFile failed on huge.bin: "));
    CHECK(outcome.statusMessage.find("2 GiB") != std::string::npos);
    CHECK(outcome.statusMessage.find("2200000000") != std::string::npos);
}
