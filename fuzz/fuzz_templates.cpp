// The two template files with any typed values: whatever a user types as type,
// category, particle name, folder or first frame, the file is well-formed XML
// of the template's own shape whose attributes read back as typed, or the
// writer refuses it; it never writes a file the host editor cannot read.
#include <expat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "TemplateText.h"
#include "common/Text.h"
#include "package/Templates.h"

using namespace sparkloom;
using namespace sparkloom::fuzz;

namespace {

struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;  // in the file's order
};

// Every element of the file with its attributes, as expat reads the bytes the
// writer stores; a file expat refuses breaks the rule.
std::vector<Element> Parse(const std::string& text) {
    std::vector<Element> elements;
    XML_Parser parser = XML_ParserCreate(nullptr);  // the byte-order mark says UTF-16LE
    XML_SetUserData(parser, &elements);
    XML_SetStartElementHandler(
        parser, [](void* user, const XML_Char* name, const XML_Char** attributes) {
            Element element{name, {}};
            for (size_t i = 0; attributes[i] != nullptr; i += 2) {
                element.attributes.emplace_back(attributes[i], attributes[i + 1]);
            }
            static_cast<std::vector<Element>*>(user)->push_back(std::move(element));
        });
    const std::string bytes = FileBytes(text);
    const bool parsed =
        XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
    if (!parsed) {
        std::fprintf(stderr, "%s\n%s\n", XML_ErrorString(XML_GetErrorCode(parser)), text.c_str());
    }
    XML_ParserFree(parser);
    FUZZ_CHECK(parsed);
    return elements;
}

// Same elements with the same attribute names, in the same order: no value
// has opened or closed anything.
void CheckShape(const std::vector<Element>& filled, const std::vector<Element>& plain) {
    FUZZ_CHECK(filled.size() == plain.size());
    for (size_t i = 0; i < filled.size(); ++i) {
        FUZZ_CHECK(filled[i].name == plain[i].name);
        FUZZ_CHECK(filled[i].attributes.size() == plain[i].attributes.size());
        for (size_t a = 0; a < filled[i].attributes.size(); ++a) {
            FUZZ_CHECK(filled[i].attributes[a].first == plain[i].attributes[a].first);
        }
    }
}

std::string Attribute(const std::vector<Element>& elements, const std::string& element,
                      const std::string& name) {
    for (const Element& e : elements) {
        if (e.name == element) {
            for (const auto& [key, value] : e.attributes) {
                if (key == name) {
                    return value;
                }
            }
            return std::string();
        }
    }
    return "<missing>";
}

void CheckFileText(const std::string& text) {
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    FUZZ_CHECK(text.starts_with("<?xml"));
    FUZZ_CHECK(text.ends_with('>'));
}

// A scratch folder for the whole run, removed with what is left in it at exit.
class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device random;
        for (;;) {
            mPath = std::filesystem::temp_directory_path() /
                    PathFromUtf8("sparkloom-fuzz-" + std::to_string(random()));
            if (std::filesystem::create_directory(mPath)) {
                return;
            }
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
    std::string Text() const { return Utf8Of(mPath); }

private:
    std::filesystem::path mPath;
};

const std::string& Folder() {
    static ScratchFolder folder;
    static const std::string path = folder.Text();
    return path;
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(PathFromUtf8(path), ignored);
}

// A value XML cannot carry is refused before anything is written.
template <typename Write>
void CheckRefused(const std::string& fileName, Write write) {
    const TemplateWrite result = write();
    FUZZ_CHECK(!result.ok);
    FUZZ_CHECK(!result.error.empty());
    FUZZ_CHECK(!Exists(Folder() + '/' + fileName));
}

bool Holds(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzz::Fields(data, size);
    const TemplateXmlValues values{fuzz::TextAt(fields, 0), fuzz::TextAt(fields, 1),
                                   fuzz::TextAt(fields, 2)};
    const std::string folder = fuzz::TextAt(fields, 3);
    const std::string firstFile = fuzz::TextAt(fields, 4);
    int32_t duration = 0;
    if (!fuzz::Int32Of(fuzz::FieldAt(fields, 5), duration)) {
        duration = static_cast<int32_t>(fuzz::HashOf(data, size));
    }

    static const std::vector<Element> plainXml = Parse(FilledTemplateXml({"T", "C", "N"}));
    static const std::vector<Element> plainClt = Parse(FilledTemplateClt("/f", "a.jpg", 1));

    // TitleTemplate.xml: the name goes in last, so it always reads back whole.
    if (IsXmlText(CutAtNul(values.type)) && IsXmlText(CutAtNul(values.category)) &&
        IsXmlText(CutAtNul(values.particleName))) {
        const std::string text = FilledTemplateXml(values);
        CheckFileText(text);
        const std::vector<Element> xml = Parse(text);
        CheckShape(xml, plainXml);
        FUZZ_CHECK(Attribute(xml, "TEMPLATE", "ALIAS") == ReadBack(values.particleName));
        // Now and then the whole write: the file holds exactly the checked text.
        if (fuzz::HashOf(data, size) % 32 == 0) {
            const TemplateWrite written = WriteTemplateXml(Folder(), values);
            FUZZ_CHECK(written.ok);
            std::ifstream file(PathFromUtf8(written.path), std::ios::binary);
            const std::string stored((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
            FUZZ_CHECK(file.good() || file.eof());
            FUZZ_CHECK(stored == FileBytes(text));
            file.close();
            std::error_code error;
            FUZZ_CHECK(std::filesystem::remove(PathFromUtf8(written.path), error));
        }
        if (!Holds(values.type, "{{")) {
            FUZZ_CHECK(Attribute(xml, "TEMPLATE", "TYPE") == ReadBack(values.type));
        }
        if (!Holds(values.category, "{{")) {
            FUZZ_CHECK(Attribute(xml, "TEMPLATE", "CATEGORY") == ReadBack(values.category));
        }
    } else {
        CheckRefused("TitleTemplate.xml", [&] { return WriteTemplateXml(Folder(), values); });
    }

    // TitleTemplate.clt: the folder goes in first and keeps its closing "/".
    if (IsXmlText(CutAtNul(folder)) && IsXmlText(CutAtNul(firstFile))) {
        const std::string text = FilledTemplateClt(folder, firstFile, duration);
        CheckFileText(text);
        const std::vector<Element> clt = Parse(text);
        CheckShape(clt, plainClt);
        if (!Holds(folder, "{{")) {
            FUZZ_CHECK(Attribute(clt, "Extension", "ReferencePath") ==
                       ReadBack(CutAtNul(folder) + '/'));
        }
        if (!Holds(firstFile, "{{")) {
            FUZZ_CHECK(Attribute(clt, "ParticleAttribExt", "AnimationImage") ==
                       ReadBack(ReplaceAll(CutAtNul(firstFile), " ", "_")));
        }
        FUZZ_CHECK(Attribute(clt, "ParticleAttribExt", "AnimationDuration") ==
                   std::to_string(duration));
    } else if (!IsXmlText(CutAtNul(firstFile))) {
        // The folder value is where the file goes, so only a first frame's name can be
        // tried against a real folder here.
        CheckRefused("TitleTemplate.clt",
                     [&] { return WriteTemplateClt(Folder(), firstFile, duration); });
    }
    return 0;
}
