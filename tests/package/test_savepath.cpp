#include "package/SavePath.h"

#include "support/CoreTest.h"

using namespace sparkloom;

TEST_CASE("extension") {
    struct Row {
        const char* name;
        std::string path;
        std::string expected;
    };
    const Row rows[] = {
        {"bare name", "/out/Fire", "/out/Fire.dzp"},
        {"has .dzp", "/out/Fire.dzp", "/out/Fire.dzp"},
        {"other extension", "/out/Fire.zip", "/out/Fire.zip"},
        {"dot in folder", "/tmp/My.Work/Fire", "/tmp/My.Work/Fire.dzp"},
        {"dot in folder, name has one", "/tmp/My.Work/Fire.v2", "/tmp/My.Work/Fire.v2"},
        {"dotted folder, trailing separator", "/tmp/My.Work/", "/tmp/My.Work/.dzp"},
        {"leading blank", " Fire", " Fire"},
        {"trailing blank", "Fire ", "Fire "},
        {"inner blank", "/out/My Fire", "/out/My Fire.dzp"},
        {"case kept", "/out/Fire.DZP", "/out/Fire.DZP"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        CHECK(WithPackageExtension(row.path) == row.expected);
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
