#include "package/Templates.h"

#include <climits>
#include <csignal>
#include <map>
#include <random>
#include <vector>

#include "common/EventPump.h"
#include "common/Files.h"
#include "support/CoreTest.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "package/PermissionOverride.h"
#endif

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

// The two documents as element tables: attributes "Name=value" joined by "|".
struct Element {
    std::string name;
    std::string attributes;
    std::vector<Element> children;  // none: written self-closing
};

const Element kXml{
    "TEMPLATE_MGR",
    "VERSION=1.0",
    {{"TEMPLATE_LIST",
      "",
      {{"TEMPLATE",
        "TYPE={{TYPE}}|ASPECTRATIO=16:9|CATEGORY={{CATEGORY}}|SCRIPTNAME=TitleTemplate.clt|"
        "FILENAME=Thumb.png|ALIAS={{PARTICLENAME}}|THUMBNAIL_PERCENT=50|PIPTYPE=4|_3DTYPE=|"
        "DURATION=100100100|PARENTTEMPLATEKEY=EE67B716-5A4A-4BEC-9933-96AB619F287B|"
        "TEMPLATEKEY=DE37CBD7-B285-4792-9B8D-B46E70EEE03E",
        {}}}}}};

const Element kClt{
    "CTemplate",
    "Version=1.0",
    {{"Header",
      "",
      {{"Information", "Creator=CES_Template Exported XML", {}},
       {"Extension", "ReferencePath={{SOURCEDIRECTORYPATH}}", {}}}},
     {"S3DInfo",
      "",
      {{"MetaS3D", "DistanceType=0|DepthLowerBound=-0.333333|DepthUpperBound=0.333333", {}}}},
     {"OutputInfo",
      "",
      {{"DisplayMask", "Left=0.000000|Top=0.000000|Width=1.000000|Height=1.000000", {}},
       {"MetaOutput",
        "ScreenDiagonal=20|ScreenAspectRationX=534|ScreenAspectRationY=300|OutputField=0|"
        "OutputQuality=1|OutputWorkingMode=0",
        {}}}},
     {"LayerList",
      "",
      {{"MetaLayer",
        "LayerMediaType=3|LayerMediaPtr=0|LayerBeginTime=0.000000|LayerEndTime=1.000000|"
        "LayerVisible=true|Version=1.0",
        {{"EngineAttrib",
          "RandomAccess=1|UpdateFPS=30|PlaybackSpeed=1.000000|CacheInterval=150|"
          "ScriptDuration=0|ReferencePosX=0.500000|ReferencePosY=0.500000|"
          "StereoLowerBound=-1.000000|StereoUpperBound=1.000000|EnableDepth=0",
          {}},
         {"Emitter",
          "Type=Point|ID=emtr_0",
          {{"Particle",
            "Type=Bubble|ID=ptl_0",
            {{"ParticleAttrib",
              "ParticleMaxCount=1|Z-Order=0|EmitInterval=1|Life=20000|LifeVariation=0.000000",
              {}},
             {"ParticleAttribExt",
              "Asymmetric=0.000000|Size=100.000000|SizeVariation=0.000000|Speed=0.000000|"
              "SpeedVariation=0.000000|WavePeriod=0|WavePeriodVariation=0.000000|"
              "Acceleration=0.000000|AccelerationVariation=0.000000|Gravity=0.000000|"
              "AdditiveAlpha=0|AlignedCenter=1|Bounce=0.000000|BounceR=0.000000|"
              "BounceL=0.000000|RadianSpeed=0.000000|RadianSpeedVar=0.000000|"
              "RadianSpeedRandomInverse=0|AnimationImage={{FIRSTFILENAME}}|"
              "AnimationDuration={{ANIMATIONDURATION}}|InteractiveWithBG=0|EdgeType=0|"
              "AnimationLoop=0",
              {}}}},
           {"EmitterAttrib",
            "PosX=0.500000|PosY=0.500000|PosZ=0.000000|EmitAngle=0.000000|EmitRange=0.000000|"
            "EmitAngleZ=0.000000|EmitRangeZ=0.000000|BeginTime=0|Duration=0|EnableDepth=0|"
            "BeginProgress=0.000000|EndProgress=1.000000|FadeInEnd=0.000000|"
            "FadeOutStart=1.000000|Visible=1|RenderStyleMode=1",
            {}},
           {"EmitterAttribExt", "IsSequential=0|Segment=10", {}}}}}}}}}};

using Values = std::map<std::string, std::string>;

// Writes the element; an attribute whose whole value is a key of values gets that value.
std::string Render(const Element& e, const Values& values) {
    std::string out = "<" + e.name;
    for (const std::string& attribute : Split(e.attributes, '|')) {
        if (attribute.empty()) {
            continue;
        }
        const std::size_t eq = attribute.find('=');
        const std::string value = attribute.substr(eq + 1);
        const auto given = values.find(value);
        out += " " + attribute.substr(0, eq) + "=\"" +
               (given != values.end() ? given->second : value) + "\"";
    }
    if (e.children.empty()) {
        return out + "/>";
    }
    out += ">";
    for (const Element& child : e.children) {
        out += Render(child, values);
    }
    return out + "</" + e.name + ">";
}

std::string Document(const Element& top, const Values& values = {}) {
    return R"(<?xml version="1.0" encoding="UTF-16"?>)" + Render(top, values);
}

std::string DecodedFile(const std::string& path) {
    const std::string bytes = ReadAll(path);
    if (!bytes.starts_with("\xFF\xFE") || bytes.size() % 2 != 0) {
        return {};
    }
    std::u16string units;
    for (std::size_t at = 2; at < bytes.size(); at += 2) {
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                       (static_cast<unsigned char>(bytes[at + 1]) << 8));
    }
    return Utf8FromUtf16(units).value_or(std::string());
}

// Parses the whole document with Python's XML reader (not the project's); returns
// the attribute of the last such element, "<missing>" without one, or a marker
// on any error.
std::string AttributeOf(const std::string& document, const std::string& element,
                        const std::string& attribute) {
    static const char* script = R"PY(
import sys, xml.etree.ElementTree as ET
try:
    root = ET.parse(sys.argv[1]).getroot()
except ET.ParseError as e:
    sys.stdout.buffer.write(("<error: %s>" % e).encode("utf-8"))
    sys.exit(0)
found = "<missing>"
for e in root.iter(sys.argv[2]):
    found = e.get(sys.argv[3], "")
sys.stdout.buffer.write(found.encode("utf-8"))
)PY";
    TempDir dir;
    const std::string file = dir.File("document.xml");
    if (!WriteFile(file, Utf16File(document))) {
        return "<error: not written>";
    }
    const ToolRun run = RunTool("python3", {"-c", script, file, element, attribute});
    return run.exitCode == 0 ? run.out : "<error: " + run.err + ">";
}

// The files in folder, hidden ones included.
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(P(folder))) {
        names.push_back(Utf8Of(entry.path().filename()));
    }
    return names;
}

const TemplateXmlValues kFire{"CUSTOM", "General", "Fire"};

}  // namespace

TEST_CASE("resourceLayout") {
    struct Row {
        const char* name;
        std::string resource;
        std::string expectedText;
        std::vector<std::string> placeholders;
    };
    const Row rows[] = {
        {"XML", "XML", Document(kXml), {"{{TYPE}}", "{{CATEGORY}}", "{{PARTICLENAME}}"}},
        {"CLT",
         "clt",
         Document(kClt),
         {"{{SOURCEDIRECTORYPATH}}", "{{FIRSTFILENAME}}", "{{ANIMATIONDURATION}}"}},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        const std::string bytes = TemplateResource(row.resource);
        CHECK(bytes.size() == row.expectedText.size() + 5);
        CHECK(bytes.starts_with("\xEF\xBB\xBF"));
        CHECK(bytes.ends_with(std::string(2, '\0')));
        const std::string text = bytes.substr(3, bytes.size() - 5);
        CHECK(text == row.expectedText);
        for (const std::string& placeholder : row.placeholders) {
            CHECK(text.find(placeholder) != std::string::npos);
            CHECK(text.find(placeholder) == text.rfind(placeholder));
        }
    }
}

TEST_CASE("resourceSizes") {
    CHECK(Document(kXml).size() == 435);
    CHECK(Document(kClt).size() == 2055);
    CHECK(TemplateResource("XML").size() == 440);
    CHECK(TemplateResource("CLT").size() == 2060);
    CHECK(TemplateResource("ZIP").empty());
}

TEST_CASE("stripNulls") {
    std::string text("abc\0def", 7);
    CHECK(&StripNulls(text) == &text);
    CHECK(text == "abc");
    std::string leading(1, '\0');
    leading += "abc";
    CHECK(StripNulls(leading) == "");
    std::string plain("abc");
    CHECK(StripNulls(plain) == "abc");
}

TEST_CASE("requiredFiguresAreExactBytes") {
    // A folder of a known length, as the script's size depends on it: "/tmp/sl-XXXXXX"
    // is 14 characters long.
    std::random_device random;
    fs::path folder;
    do {
        folder = fs::temp_directory_path() / ("sl-" + std::to_string(100000 + random() % 900000));
    } while (!fs::create_directory(folder));
    struct Remove {
        fs::path path;
        ~Remove() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } remove{folder};
    const std::string dir = Utf8Of(folder);
    const auto lengthOver14 = static_cast<std::ptrdiff_t>(Utf16Length(dir)) - 14;

    const TemplateWrite xml = WriteTemplateXml(dir, kFire);
    REQUIRE_MESSAGE(xml.ok, xml.error);
    CHECK(xml.path == dir + "/TitleTemplate.xml");
    const std::string xmlBytes = ReadAll(xml.path);
    CHECK(xmlBytes.size() == 834);
    CHECK(xmlBytes == Utf16File(Document(kXml, {{"{{TYPE}}", "CUSTOM"},
                                                {"{{CATEGORY}}", "General"},
                                                {"{{PARTICLENAME}}", "Fire"}})));
    CHECK(AttributeOf(DecodedFile(xml.path), "TEMPLATE", "ALIAS") == "Fire");

    const TemplateWrite clt = WriteTemplateClt(dir, "Fire_00001.jpg", 1500);
    REQUIRE_MESSAGE(clt.ok, clt.error);
    const std::string cltBytes = ReadAll(clt.path);
    CHECK(static_cast<std::ptrdiff_t>(cltBytes.size()) == 4056 + 2 * lengthOver14);
    CHECK(cltBytes == Utf16File(Document(kClt, {{"{{SOURCEDIRECTORYPATH}}", dir + "/"},
                                                {"{{FIRSTFILENAME}}", "Fire_00001.jpg"},
                                                {"{{ANIMATIONDURATION}}", "1500"}})));
    CHECK(FilledTemplateClt("/frames/Fire12", "Fire_00001.jpg", 1500).size() == 2027);
}

TEST_CASE("filesAreStableAndClean") {
    TempDir dir;
    CHECK(WriteTemplateXml(dir.Text(), kFire).ok);
    CHECK(WriteTemplateClt(dir.Text(), "Fire_00001.jpg", 1500).ok);
    for (const char* name : {"TitleTemplate.xml", "TitleTemplate.clt"}) {
        CAPTURE(name);
        CHECK(ReadAll(dir.File(name)).starts_with("\xFF\xFE"));
        const std::string text = DecodedFile(dir.File(name));
        CHECK(text.starts_with("<?xml"));
        CHECK(text.ends_with('>'));
        CHECK(text.find('\0') == std::string::npos);
    }
    const std::string xml = ReadAll(dir.File("TitleTemplate.xml"));
    const std::string clt = ReadAll(dir.File("TitleTemplate.clt"));
    CHECK(WriteTemplateXml(dir.Text(), kFire).ok);
    CHECK(WriteTemplateClt(dir.Text(), "Fire_00001.jpg", 1500).ok);
    CHECK(ReadAll(dir.File("TitleTemplate.xml")) == xml);
    CHECK(ReadAll(dir.File("TitleTemplate.clt")) == clt);
    CHECK(FilesIn(dir.Text()).size() == 2);
}

TEST_CASE("placeholderRules") {
    const auto xmlAttribute = [](const TemplateXmlValues& values, const char* attribute) {
        return AttributeOf(FilledTemplateXml(values), "TEMPLATE", attribute);
    };
    const auto clt = [](const std::string& folder, const std::string& first, int32_t duration,
                        const char* element, const char* attribute) {
        return AttributeOf(FilledTemplateClt(folder, first, duration), element, attribute);
    };
    CHECK(clt("/f", "My Clip_00001.jpg", 1, "ParticleAttribExt", "AnimationImage") ==
          "My_Clip_00001.jpg");
    CHECK(xmlAttribute({"CUSTOM", "General", "My Clip"}, "ALIAS") == "My Clip");
    CHECK(clt("/f", "a", 0, "ParticleAttribExt", "AnimationDuration") == "0");
    CHECK(clt("/f", "a", -1500, "ParticleAttribExt", "AnimationDuration") == "-1500");
    CHECK(clt("/f", "a", INT32_MIN, "ParticleAttribExt", "AnimationDuration") == "-2147483648");

    // The byte-order mark's bytes read as Windows-1252 characters: "ï»¿".
    const std::string bom = "\u00EF\u00BB\u00BF";
    CHECK(xmlAttribute({"CUSTOM", "General", "Fi" + bom + "re" + bom}, "ALIAS") == "Fire");
    CHECK(clt("/f" + bom, "a" + bom, 1, "Extension", "ReferencePath") == "/f/");

    // Later placeholders are filled after earlier values went in, never the other way.
    CHECK(clt("/x/{{FIRSTFILENAME}}", "a b", 1, "Extension", "ReferencePath") == "/x/a_b/");
    CHECK(clt("/x/{{ANIMATIONDURATION}}", "a", 7, "Extension", "ReferencePath") == "/x/7/");
    CHECK(xmlAttribute({"CUSTOM", "General", "{{TYPE}}"}, "ALIAS") == "{{TYPE}}");
    CHECK(xmlAttribute({"{{CATEGORY}}", "General", "n"}, "TYPE") == "General");
}

TEST_CASE("xmlSpecialCharactersAreEscaped") {
    TempDir root;
    const std::string name = R"(Fire & "Ice" <x>)";
#ifndef _WIN32
    const std::string folder = root.File(R"(R&D "1" <b>)");
#else
    const std::string folder = root.File("R&D 1");  // Windows names hold no '"', '<' or '>'
#endif
    REQUIRE(fs::create_directories(P(folder)));
    CHECK(WriteTemplateXml(folder, {"A&B", "<C>", name}).ok);
    CHECK(WriteTemplateClt(folder, R"("a"&<b>.jpg)", 1500).ok);
    const std::string xml = DecodedFile(folder + "/TitleTemplate.xml");
    CHECK(AttributeOf(xml, "TEMPLATE", "ALIAS") == name);
    CHECK(AttributeOf(xml, "TEMPLATE", "TYPE") == "A&B");
    CHECK(AttributeOf(xml, "TEMPLATE", "CATEGORY") == "<C>");
    const std::string clt = DecodedFile(folder + "/TitleTemplate.clt");
    CHECK(AttributeOf(clt, "Extension", "ReferencePath") == folder + "/");
    CHECK(AttributeOf(clt, "ParticleAttribExt", "AnimationImage") == R"("a"&<b>.jpg)");
}

TEST_CASE("nonAsciiIsCarriedExactly") {
    TempDir root;
    const std::string name = "Flamme é ü 日本";
    const std::string folder = root.File("Bilder ü 日本");
    REQUIRE(fs::create_directories(P(folder)));
    CHECK(WriteTemplateXml(folder, {"CUSTOM", "General", name}).ok);
    CHECK(WriteTemplateClt(folder, name + ".jpg", 1).ok);
    const std::string xml = ReadAll(folder + "/TitleTemplate.xml");
    CHECK(xml.size() == 834 + 2 * (Utf16Length(name) - 4));
    CHECK(xml.find(std::string("\xE5\x65\x2C\x67", 4)) != std::string::npos);  // 日本 as UTF-16LE
    CHECK(AttributeOf(DecodedFile(folder + "/TitleTemplate.xml"), "TEMPLATE", "ALIAS") == name);
    const std::string clt = DecodedFile(folder + "/TitleTemplate.clt");
    CHECK(AttributeOf(clt, "Extension", "ReferencePath") == folder + "/");
    CHECK(AttributeOf(clt, "ParticleAttribExt", "AnimationImage") ==
          ReplaceAll(name + ".jpg", " ", "_"));
}

TEST_CASE("yieldsToTheEventLoop") {
    bool ran = false;
    SetEventPump([&ran] { ran = true; });
    FilledTemplateXml(kFire);
    SetEventPump({});
    CHECK(ran);
}

TEST_CASE("failuresAreReported") {
    TempDir root;
    const std::string missing = root.File("gone");
    TemplateWrite write = WriteTemplateXml(missing, kFire);
    CHECK_FALSE(write.ok);
    CHECK_MESSAGE(write.error.find(Shown(missing + "/TitleTemplate.xml")) != std::string::npos,
                  write.error);
    // The system's reason follows the path.
    CHECK_MESSAGE(write.error.ends_with(
                      ": " + ReasonOf(std::make_error_code(std::errc::no_such_file_or_directory))),
                  write.error);
    CHECK_FALSE(WriteTemplateClt(missing, "a.jpg", 1).ok);
    CHECK_FALSE(fs::exists(P(missing)));

    const std::string notAFolder = root.File("file");
    REQUIRE(WriteFile(notAFolder, ""));
    write = WriteTemplateClt(notAFolder, "a.jpg", 1);
    CHECK_FALSE(write.ok);
    CHECK(write.error.find("TitleTemplate.clt") != std::string::npos);
}

#ifndef _WIN32
TEST_CASE("readOnlyKeepsTheOldFile") {
    TempDir dir;
    REQUIRE(WriteTemplateXml(dir.Text(), kFire).ok);
    const std::string path = dir.File("TitleTemplate.xml");
    const std::string good = ReadAll(path);

    WithoutPermissionOverride asPlainUser;
    if (geteuid() == 0 && !asPlainUser.ok) {
        Skip("root writes through read-only permissions, and cannot give that up here");
        return;
    }
    fs::permissions(P(path), fs::perms::owner_read, fs::perm_options::replace);
    TemplateWrite write = WriteTemplateXml(dir.Text(), {"PRESET", "Sports", "Other"});
    CHECK_FALSE(write.ok);
    CHECK_MESSAGE(write.error.find(path) != std::string::npos, write.error);
    CHECK(ReadAll(path) == good);

    fs::permissions(P(path), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec,
                    fs::perm_options::replace);
    write = WriteTemplateXml(dir.Text(), {"PRESET", "Sports", "Other"});
    fs::permissions(dir.Path(), fs::perms::owner_all, fs::perm_options::replace);
    CHECK_FALSE(write.ok);
    CHECK_MESSAGE(
        write.error.ends_with(": " + ReasonOf(std::make_error_code(std::errc::permission_denied))),
        write.error);
    CHECK(ReadAll(path) == good);
}

// A full disk, made by a file-size limit in a child process.
TEST_CASE("fullDiskKeepsTheOldFile") {
    TempDir dir;
    REQUIRE(WriteTemplateClt(dir.Text(), "Fire_00001.jpg", 1500).ok);
    const std::string path = dir.File("TitleTemplate.clt");
    const std::string good = ReadAll(path);

    const pid_t child = fork();
    REQUIRE(child >= 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            _exit(3);
        }
        const TemplateWrite write = WriteTemplateClt(dir.Text(), "Other_00001.jpg", 99);
        // The message names the file and the system's reason.
        const bool told = write.error.find(path) != std::string::npos &&
                          write.error.ends_with(": " + ReasonOfErrno(EFBIG));
        _exit(write.ok ? 0 : told ? 1 : 2);
    }
    int status = 0;
    REQUIRE(waitpid(child, &status, 0) == child);
    REQUIRE(WIFEXITED(status));
    CHECK(WEXITSTATUS(status) == 1);
    CHECK(ReadAll(path) == good);
    CHECK(FilesIn(dir.Text()) == std::vector<std::string>{"TitleTemplate.clt"});
}
#endif
