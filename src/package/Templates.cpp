#include "package/Templates.h"

#include "app/EventPump.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringEncoder>

// The resources sit in a static library, whose unreferenced objects the linker drops;
// registering them by hand keeps them. Q_INIT_RESOURCE must not stand inside a namespace.
static void InitTemplateResources() {
    Q_INIT_RESOURCE(sparkloom);
}

namespace sparkloom {

namespace {

// The UTF-8 byte-order mark of the resources, read one character per byte.
const QString kBomAsAnsi = QStringLiteral(u"\u00EF\u00BB\u00BF");

// Values go between double quotes, so these four would break the file.
QString XmlEscaped(const QString& value) {
    return value.toHtmlEscaped();
}

// The resource as text, one character per byte. It holds only ASCII and the BOM bytes,
// where Windows-1252 and Latin-1 agree.
QString TemplateText(const QString& name) {
    PumpEvents();
    return QString::fromLatin1(TemplateResource(name));
}

// Drops the closing NULs and the BOM characters, wherever they came from.
QString Finished(QString text) {
    StripNulls(text);
    return text.remove(kBomAsAnsi);
}

TemplateWrite WriteUtf16(const QString& sFolder, const QString& fileName, const QString& text) {
    TemplateWrite result;
    result.path = sFolder + QLatin1Char('/') + fileName;
    QStringEncoder toUtf16(QStringConverter::Utf16LE);
    QByteArray bytes("\xFF\xFE");
    bytes += QByteArray(toUtf16.encode(text));

    // QSaveFile writes a temporary file and renames it over the old one only on commit. Its
    // commit() misses a failed flush of the write buffer (a full disk), so flush first.
    QSaveFile file(result.path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() ||
        !file.commit()) {
        result.error = QStringLiteral("Cannot write %1: %2")
                           .arg(QDir::toNativeSeparators(result.path), file.errorString());
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace

QString& StripNulls(QString& OriginalStr) {
    const qsizetype nul = OriginalStr.indexOf(QChar(0));
    if (nul >= 0) {
        OriginalStr.truncate(nul);
    }
    return OriginalStr;
}

QByteArray TemplateResource(const QString& name) {
    static const bool registered = [] {
        InitTemplateResources();
        return true;
    }();
    Q_UNUSED(registered);
    QFile file(QStringLiteral(":/templates/") + name.toUpper());
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QString FilledTemplateXml(const TemplateXmlValues& values) {
    QString text = TemplateText(QStringLiteral("XML"));
    text.replace(QStringLiteral("{{TYPE}}"), XmlEscaped(values.type));
    text.replace(QStringLiteral("{{CATEGORY}}"), XmlEscaped(values.category));
    text.replace(QStringLiteral("{{PARTICLENAME}}"), XmlEscaped(values.particleName));
    return Finished(text);
}

QString FilledTemplateClt(const QString& sFolder, const QString& sFirstFile, int32_t lDuration) {
    QString firstFile = sFirstFile;
    firstFile.replace(QLatin1Char(' '), QLatin1Char('_'));
    QString text = TemplateText(QStringLiteral("CLT"));
    // The folder goes in first, so placeholder text inside it is filled by the later steps.
    text.replace(QStringLiteral("{{SOURCEDIRECTORYPATH}}"), XmlEscaped(sFolder + QLatin1Char('/')));
    text.replace(QStringLiteral("{{FIRSTFILENAME}}"), XmlEscaped(firstFile));
    text.replace(QStringLiteral("{{ANIMATIONDURATION}}"), QString::number(lDuration));
    return Finished(text);
}

TemplateWrite WriteTemplateXml(const QString& sFolder, const TemplateXmlValues& values) {
    return WriteUtf16(sFolder, QStringLiteral("TitleTemplate.xml"), FilledTemplateXml(values));
}

TemplateWrite WriteTemplateClt(const QString& sFolder, const QString& sFirstFile,
                               int32_t lDuration) {
    return WriteUtf16(sFolder, QStringLiteral("TitleTemplate.clt"),
                      FilledTemplateClt(sFolder, sFirstFile, lDuration));
}

}  // namespace sparkloom
