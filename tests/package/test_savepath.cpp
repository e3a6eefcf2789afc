#include "package/SavePath.h"

#include "package/PendingPackage.h"
#include "platform/WriterLock.h"
#include "support/CoreTest.h"

using namespace sparkloom;
using namespace sparkloom::test;

TEST_CASE("extension") {
    struct Row {
        const char* name;
        std::string path;
        std::string expected;
        bool namesNoFile = false;  // refused as a folder
    };
    const Row rows[] = {
        {"bare name", "/out/Fire", "/out/Fire.dzp"},
        {"has .dzp", "/out/Fire.dzp", "/out/Fire.dzp"},
        {"other extension", "/out/Fire.zip", "/out/Fire.zip"},
        {"dot in folder", "/tmp/My.Work/Fire", "/tmp/My.Work/Fire.dzp"},
        {"dot in folder, name has one", "/tmp/My.Work/Fire.v2", "/tmp/My.Work/Fire.v2"},
        {"dotted folder, trailing separator", "/tmp/My.Work/", "/tmp/My.Work/.dzp", true},
        {"trailing separator", "/out/", "/out/.dzp", true},
        {"only the extension", "/out/.dzp", "/out/.dzp", true},
        {"a hidden name of its own", "/out/.Fire", "/out/.Fire"},
        {"leading blank", " Fire", " Fire"},
        {"trailing blank", "Fire ", "Fire "},
        {"inner blank", "/out/My Fire", "/out/My Fire.dzp"},
        {"case kept", "/out/Fire.DZP", "/out/Fire.DZP"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        CHECK(WithPackageExtension(row.path) == row.expected);
        CHECK(NamesNoFile(row.path) == row.namesNoFile);
    }
}

TEST_CASE("packageFolder") {
    struct Row {
        const char* name;
        std::string path;
        std::string fileName;
        std::string expected;
    };
    const Row rows[] = {
        {"ordinary", "/out/Fire.dzp", "Fire.dzp", "/out"},
        {"folder named as the file", "/out/Fire.dzp/Fire.dzp", "Fire.dzp", "/out"},
        {"case differs", "/out/fire.dzp", "Fire.dzp", "/out/fire.dzp"},
        {"name without its slash stays", "/outFire.dzp", "Fire.dzp", "/outFire.dzp"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        CHECK(PackageFolderOf(row.path, row.fileName) == row.expected);
    }
}

// What killed runs left beside packages goes at the next build; what a live
// writer holds, and whatever only looks alike, stays.
TEST_CASE("leftoversAndFreeNames") {
    TempDir folder;
    const std::vector<std::string> gone{".Fire.dzp-abc123", ".My Fire.DZP-0z9y8x"};
    const std::vector<std::string> kept{".Fire.dzp-XYZ789", "Fire.dzp-abc123", ".notes.txt-abc123",
                                        ".Fire.dzp-abc12",  "Fire.dzp",        "Fire (2).dzp"};
    for (const std::vector<std::string>& names : {gone, kept}) {
        for (const std::string& name : names) {
            REQUIRE(WriteFile(folder.File(name), name));
        }
    }
    REQUIRE(MakeFolder(folder.File(".Folder.dzp-abc123")));
    platform::WriterLock live;
    REQUIRE(!live.Create(PathFromUtf8(folder.File(".Fire.dzp-live00"))));
    CHECK(RemoveAbandonedPackages(folder.Text()) == 2);
    for (const std::string& name : gone) {
        CHECK_MESSAGE(!Exists(folder.File(name)), name);
    }
    for (const std::string& name : kept) {
        CHECK_MESSAGE(Exists(folder.File(name)), name);
    }
    CHECK(Exists(folder.File(".Fire.dzp-live00")));
    CHECK(Exists(folder.File(".Folder.dzp-abc123")));
    live.Release();
    CHECK(RemoveAbandonedPackages(folder.Text()) == 1);  // its writer has gone now

    CHECK(NextFreeName(folder.File("Fire.dzp")) == folder.File("Fire (3).dzp"));
    CHECK(NextFreeName(folder.File("New.dzp")) == folder.File("New (2).dzp"));
}
