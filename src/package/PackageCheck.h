#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sparkloom {

enum class PackageCheckLevel {
    Archive,      // every entry's data reads back with its CRC and size
    NeededFiles,  // and both templates, both thumbnails and the script's first frame are there
    Whole,        // and entry names, template values, frames and duration are right
};

// One thing that keeps the host editor from using the package.
struct PackageFault {
    std::string entry;  // the entry's name as stored, e.g. ".\Fire_00007.jpg"; "" for the archive
    std::string text;
};

// "entry: text", or the text alone for the archive as a whole.
std::string FaultLine(const PackageFault& fault);

struct PackageCheck {
    std::vector<PackageFault> faults;
    std::vector<std::string> notes;  // what the host ignores: extra files, subfolders
    int entries = 0;                 // entries read

    bool IsWhole() const { return faults.empty(); }
    std::vector<std::string> FaultLines() const;
};

// Reads the package at path with minizip's reader and checks it up to level.
// pulse, when given, is called every few milliseconds while data are read, so
// a window can repaint. Never throws; a file that is no archive is a fault.
PackageCheck CheckPackage(const std::string& path, PackageCheckLevel level,
                          const std::function<void()>& pulse = {});

// The check every build runs on its package before it reports success: the
// needed files, or for a cancelled build only the archive itself.
PackageCheck ReadBackPackage(const std::string& path, bool canceled,
                             const std::function<void()>& pulse = {});

// What is shown instead of "Success" when the read-back found faults.
std::string ReadBackFailureText(const std::string& path, const PackageCheck& check);

// One template file's contents as the check reads them.
struct TemplateReading {
    std::vector<std::string> faults;  // why the file is no usable template; empty when it is
    // The checked attributes found, by attribute name; a value may still be faulty.
    std::vector<std::pair<std::string, std::string>> values;

    std::optional<std::string> Value(const std::string& attribute) const;
};

// TitleTemplate.clt: ReferencePath, AnimationImage and AnimationDuration.
TemplateReading ReadTemplateClt(std::string_view bytes);
// TitleTemplate.xml: TYPE, CATEGORY and ALIAS of the TEMPLATE record.
TemplateReading ReadTemplateXml(std::string_view bytes);

}  // namespace sparkloom
