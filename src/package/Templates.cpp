#include "package/Templates.h"

#include "common/EventPump.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringEncoder>
#include <initializer_list>
#include <utility>

// The resources sit in a static library, whose unreferenced objects the linker drops;
// registering them by hand keeps them. Q_INIT_RESOURCE must not stand inside a namespace.
static void InitTemplateResources() {
    Q_INIT_RESOURCE(sparkloom);
}

namespace sparkloom {

namespace {

// The UTF-8 byte-order mark of the resources, read one character per byte.
const QString kBomAsAnsi = QStringLiteral(u"\u00EF\u00BB\u00BF");

// A value ends at its first NUL, as the text it is written into would.
QString UpToNul(QString value) {
    return StripNulls(value);
}

// Values go between double quotes, so "<", ">", "&" and '"' would break the file;
// a tab or line end would read back as a blank, so those go as references too.
QString XmlEscaped(const QString& value) {
    return UpToNul(value)
        .toHtmlEscaped()
        .replace(QLatin1Char('\t'), QStringLiteral("&#9;"))
        .replace(QLatin1Char('\n'), QStringLiteral("&#10;"))
        .replace(QLatin1Char('\r'), QStringLiteral("&#13;"));
}

// XML 1.0 has no form at all, escaped or not, for the other control characters,
// unpaired surrogates, U+FFFE and U+FFFF. Returns the first such code, or -1.
int UncarriableCode(const QString& value) {
    const QString text = UpToNul(value);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        const bool carried = c == u'\t' || c == u'\n' || c == u'\r' || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD);
        if (!carried) {
            return c;
        }
    }
    return -1;
}

// Refuses the write when one of the values cannot go into the file; "" when all can.
QString Uncarriable(const QString& fileName,
                    std::initializer_list<std::pair<const char*, const QString*>> values) {
    for (const auto& [what, value] : values) {
        const int code = UncarriableCode(*value);
        if (code >= 0) {
            return QStringLiteral("The %1 holds a character (U+%2) that %3 cannot carry.")
                .arg(QString::fromLatin1(what))
                .arg(QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')))
                .arg(fileName);
        }
    }
    return QString();
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
    QString firstFile = UpToNul(sFirstFile);
    firstFile.replace(QLatin1Char(' '), QLatin1Char('_'));
    QString text = TemplateText(QStringLiteral("CLT"));
    // The folder goes in first, so placeholder text inside it is filled by the later steps.
    text.replace(QStringLiteral("{{SOURCEDIRECTORYPATH}}"),
                 XmlEscaped(UpToNul(sFolder) + QLatin1Char('/')));
    text.replace(QStringLiteral("{{FIRSTFILENAME}}"), XmlEscaped(firstFile));
    text.replace(QStringLiteral("{{ANIMATIONDURATION}}"), QString::number(lDuration));
    return Finished(text);
}

TemplateWrite WriteTemplateXml(const QString& sFolder, const TemplateXmlValues& values) {
    const QString fileName = QStringLiteral("TitleTemplate.xml");
    const QString refusal = Uncarriable(fileName, {{"type", &values.type},
                                                   {"category", &values.category},
                                                   {"particle name", &values.particleName}});
    if (!refusal.isEmpty()) {
        return TemplateWrite{false, sFolder + QLatin1Char('/') + fileName, refusal};
    }
    return WriteUtf16(sFolder, QStringLiteral("TitleTemplate.xml"), FilledTemplateXml(values));
}

TemplateWrite WriteTemplateClt(const QString& sFolder, const QString& sFirstFile,
                               int32_t lDuration) {
    const QString fileName = QStringLiteral("TitleTemplate.clt");
    const QString refusal = Uncarriable(
        fileName, {{"frames folder's path", &sFolder}, {"first frame's name", &sFirstFile}});
    if (!refusal.isEmpty()) {
        return TemplateWrite{false, sFolder + QLatin1Char('/') + fileName, refusal};
    }
    return WriteUtf16(sFolder, QStringLiteral("TitleTemplate.clt"),
                      FilledTemplateClt(sFolder, sFirstFile, lDuration));
}

}  // namespace sparkloom
