// The package check's reading of the two template files. Any bytes: no crash,
// and a file passes only when all three of its values are there, filled and not
// empty. Templates our writers fill: they pass exactly when their values are in
// place, and each value reads back as the writer was given it; cut anywhere
// short, they fail.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzInput.h"
#include "TemplateText.h"
#include "package/PackageCheck.h"
#include "package/Templates.h"

using namespace sparkloom;
using namespace sparkloom::fuzz;

namespace {

bool Holds(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

bool InPlace(const std::string& value) {
    return !value.empty() && !(Holds(value, "{{") && Holds(value, "}}"));
}

// A reading without faults has every value, filled and not empty.
void CheckPassMeansFilled(const TemplateReading& reading,
                          const std::vector<std::string>& attributes) {
    if (!reading.faults.empty()) {
        return;
    }
    for (const std::string& attribute : attributes) {
        const std::optional<std::string> value = reading.Value(attribute);
        FUZZ_CHECK(value.has_value());
        FUZZ_CHECK(InPlace(*value));
    }
}

const std::vector<std::string> kCltValues = {"ReferencePath", "AnimationImage",
                                             "AnimationDuration"};
const std::vector<std::string> kXmlValues = {"TYPE", "CATEGORY", "ALIAS"};

// A cut file never passes.
void CheckCuts(const std::string& bytes, uint32_t hash, TemplateReading (*read)(std::string_view)) {
    const size_t cut = 1 + hash % (bytes.size() - 1);
    FUZZ_CHECK(!read(std::string_view(bytes).substr(0, bytes.size() - cut)).faults.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzz::Fields(data, size);
    const std::string mode = fuzz::FieldAt(fields, 0);
    const uint32_t hash = fuzz::HashOf(data, size);

    if (mode != "fill") {
        // Raw bytes after the first field: what a hand-made package may hold.
        const std::string_view all(reinterpret_cast<const char*>(data), size);
        const std::string_view bytes = all.substr(std::min(mode.size() + 1, size));
        CheckPassMeansFilled(ReadTemplateClt(bytes), kCltValues);
        CheckPassMeansFilled(ReadTemplateXml(bytes), kXmlValues);
        return 0;
    }

    const TemplateXmlValues values{fuzz::TextAt(fields, 1), fuzz::TextAt(fields, 2),
                                   fuzz::TextAt(fields, 3)};
    const std::string folder = fuzz::TextAt(fields, 4);
    const std::string firstFile = fuzz::TextAt(fields, 5);
    int32_t duration = 0;
    if (!fuzz::Int32Of(fuzz::FieldAt(fields, 6), duration)) {
        duration = static_cast<int32_t>(hash);
    }

    if (IsXmlText(ReadBack(values.type)) && IsXmlText(ReadBack(values.category)) &&
        IsXmlText(ReadBack(values.particleName))) {
        const std::string bytes = FileBytes(FilledTemplateXml(values));
        const TemplateReading reading = ReadTemplateXml(bytes);
        CheckPassMeansFilled(reading, kXmlValues);
        // The name goes in last, so only it is sure to read back as typed.
        const std::string alias = ReadBack(values.particleName);
        FUZZ_CHECK(reading.Value("ALIAS") == alias);
        const bool plain = !Holds(values.type, "{{") && !Holds(values.category, "{{");
        if (plain) {
            FUZZ_CHECK(reading.Value("TYPE") == ReadBack(values.type));
            FUZZ_CHECK(reading.Value("CATEGORY") == ReadBack(values.category));
            const bool inPlace = InPlace(ReadBack(values.type)) &&
                                 InPlace(ReadBack(values.category)) && InPlace(alias);
            FUZZ_CHECK(reading.faults.empty() == inPlace);
        }
        CheckCuts(bytes, hash, ReadTemplateXml);
    }

    if (IsXmlText(ReadBack(folder)) && IsXmlText(ReadBack(firstFile))) {
        const std::string bytes = FileBytes(FilledTemplateClt(folder, firstFile, duration));
        const TemplateReading reading = ReadTemplateClt(bytes);
        CheckPassMeansFilled(reading, kCltValues);
        FUZZ_CHECK(reading.Value("AnimationDuration") == std::to_string(duration));
        if (!Holds(folder, "{{") && !Holds(firstFile, "{{")) {
            const std::string path = ReadBack(CutAtNul(folder) + '/');
            const std::string first = ReadBack(ReplaceAll(CutAtNul(firstFile), " ", "_"));
            FUZZ_CHECK(reading.Value("ReferencePath") == path);
            FUZZ_CHECK(reading.Value("AnimationImage") == first);
            FUZZ_CHECK(reading.faults.empty() == (InPlace(path) && InPlace(first)));
        }
        CheckCuts(bytes, hash, ReadTemplateClt);
    }
    return 0;
}
