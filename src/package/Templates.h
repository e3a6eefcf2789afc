#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace sparkloom {

// The values written into TitleTemplate.xml.
struct TemplateXmlValues {
    QString type;
    QString category;
    QString particleName;
};

// Outcome of writing one template file; error says what failed, for the user.
struct TemplateWrite {
    bool ok = false;
    QString path;
    QString error;
};

// Cuts text before its first NUL, in place, and returns it.
QString& StripNulls(QString& OriginalStr);

// The raw template resources ("XML", "CLT"): UTF-8 BOM, one ASCII line, two NULs.
QByteArray TemplateResource(const QString& name);

// The filled texts as they go into the files (without the UTF-16 byte-order mark).
// Each value ends at its first NUL and is escaped for an XML attribute, tabs and
// line ends included, so it reads back as given.
QString FilledTemplateXml(const TemplateXmlValues& values);
QString FilledTemplateClt(const QString& sFolder, const QString& sFirstFile, int32_t lDuration);

// Write sFolder/TitleTemplate.xml and sFolder/TitleTemplate.clt as UTF-16LE with
// byte-order mark, replacing existing files only once the new one is complete.
// A value holding a character XML cannot carry at all (most control characters,
// an unpaired surrogate) is refused before anything is written.
TemplateWrite WriteTemplateXml(const QString& sFolder, const TemplateXmlValues& values);
TemplateWrite WriteTemplateClt(const QString& sFolder, const QString& sFirstFile, int32_t lDuration);

}  // namespace sparkloom
