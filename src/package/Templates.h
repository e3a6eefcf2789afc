#pragma once

#include <cstdint>
#include <string>

namespace sparkloom {

// The values written into TitleTemplate.xml.
struct TemplateXmlValues {
    std::string type;
    std::string category;
    std::string particleName;
};

// Outcome of writing one template file; error says what failed, for the user.
struct TemplateWrite {
    bool ok = false;
    std::string path;
    std::string error;
};

// Cuts text before its first NUL, in place, and returns it.
std::string& StripNulls(std::string& OriginalStr);

// The raw template resources ("XML", "CLT"): UTF-8 BOM, one ASCII line, two NULs.
std::string TemplateResource(const std::string& name);

// The filled texts as they go into the files (UTF-8 here; the files hold them as
// UTF-16LE without this text's byte-order mark). Each value ends at its first
// NUL and is escaped for an XML attribute, tabs and line ends included, so it
// reads back as given.
std::string FilledTemplateXml(const TemplateXmlValues& values);
std::string FilledTemplateClt(const std::string& sFolder, const std::string& sFirstFile,
                              int32_t lDuration);

// Write sFolder/TitleTemplate.xml and sFolder/TitleTemplate.clt as UTF-16LE with
// byte-order mark, replacing existing files only once the new one is complete.
// A value holding a character XML cannot carry at all (most control characters,
// an unpaired surrogate) is refused before anything is written.
TemplateWrite WriteTemplateXml(const std::string& sFolder, const TemplateXmlValues& values);
TemplateWrite WriteTemplateClt(const std::string& sFolder, const std::string& sFirstFile,
                               int32_t lDuration);

}  // namespace sparkloom
