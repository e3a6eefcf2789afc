// The two template files with any typed values: whatever a user types as type,
// category, particle name, folder or first frame, the file is well-formed XML
// of the template's own shape whose attributes read back as typed, or the
// writer refuses it; it never writes a file the host editor cannot read.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include "FuzzInput.h"
#include "TemplateText.h"
#include "package/Templates.h"

using namespace sparkloom;
using namespace sparkloom::fuzz;

namespace {

struct Element {
    QString name;
    QXmlStreamAttributes attributes;
};

// The file's bytes exactly as the writer stores them.
QByteArray FileBytes(const QString& text) {
    QStringEncoder toUtf16(QStringConverter::Utf16LE);
    return QByteArray("\xFF\xFE") + QByteArray(toUtf16.encode(text));
}

QList<Element> Parse(const QString& text) {
    QXmlStreamReader reader(FileBytes(text));
    QList<Element> elements;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement) {
            elements << Element{reader.name().toString(), reader.attributes()};
        }
    }
    if (reader.hasError()) {
        std::fprintf(stderr, "%s\n%s\n", qPrintable(reader.errorString()), qPrintable(text));
    }
    FUZZ_CHECK(!reader.hasError());
    return elements;
}

// Same elements with the same attribute names, in the same order: no value
// has opened or closed anything.
void CheckShape(const QList<Element>& filled, const QList<Element>& plain) {
    FUZZ_CHECK(filled.size() == plain.size());
    for (qsizetype i = 0; i < filled.size(); ++i) {
        FUZZ_CHECK(filled[i].name == plain[i].name);
        FUZZ_CHECK(filled[i].attributes.size() == plain[i].attributes.size());
        for (qsizetype a = 0; a < filled[i].attributes.size(); ++a) {
            FUZZ_CHECK(filled[i].attributes[a].name() == plain[i].attributes[a].name());
        }
    }
}

QString Attribute(const QList<Element>& elements, const QString& element, const QString& name) {
    for (const Element& e : elements) {
        if (e.name == element) {
            return e.attributes.value(name).toString();
        }
    }
    return QStringLiteral("<missing>");
}

void CheckFileText(const QString& text) {
    FUZZ_CHECK(!text.contains(QChar(0)));
    FUZZ_CHECK(text.startsWith(QStringLiteral("<?xml")));
    FUZZ_CHECK(text.endsWith(u'>'));
}

const QString& Folder() {
    static QTemporaryDir dir;
    static const QString path = dir.path();
    return path;
}

// A value XML cannot carry is refused before anything is written.
template <typename Write>
void CheckRefused(const QString& fileName, Write write) {
    const TemplateWrite result = write();
    FUZZ_CHECK(!result.ok);
    FUZZ_CHECK(!result.error.isEmpty());
    FUZZ_CHECK(!QFile::exists(Folder() + u'/' + fileName));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzz::Fields(data, size);
    const TemplateXmlValues values{fuzz::TextAt(fields, 0), fuzz::TextAt(fields, 1),
                                   fuzz::TextAt(fields, 2)};
    const QString folder = fuzz::TextAt(fields, 3);
    const QString firstFile = fuzz::TextAt(fields, 4);
    bool numeric = false;
    int32_t duration = fuzz::FieldAt(fields, 5).toInt(&numeric);
    if (!numeric) {
        duration = static_cast<int32_t>(qHashBits(data, size));
    }

    static const QList<Element> plainXml =
        Parse(FilledTemplateXml({QStringLiteral("T"), QStringLiteral("C"), QStringLiteral("N")}));
    static const QList<Element> plainClt =
        Parse(FilledTemplateClt(QStringLiteral("/f"), QStringLiteral("a.jpg"), 1));

    // TitleTemplate.xml: the name goes in last, so it always reads back whole.
    if (IsXmlText(CutAtNul(values.type)) && IsXmlText(CutAtNul(values.category)) &&
        IsXmlText(CutAtNul(values.particleName))) {
        const QString text = FilledTemplateXml(values);
        CheckFileText(text);
        const QList<Element> xml = Parse(text);
        CheckShape(xml, plainXml);
        const QString tag = QStringLiteral("TEMPLATE");
        FUZZ_CHECK(Attribute(xml, tag, QStringLiteral("ALIAS")) == ReadBack(values.particleName));
        // Now and then the whole write: the file holds exactly the checked text.
        if (qHashBits(data, size) % 32 == 0) {
            const TemplateWrite written = WriteTemplateXml(Folder(), values);
            FUZZ_CHECK(written.ok);
            QFile file(written.path);
            FUZZ_CHECK(file.open(QIODevice::ReadOnly) && file.readAll() == FileBytes(text));
            file.close();
            FUZZ_CHECK(file.remove());
        }
        if (!values.type.contains(QStringLiteral("{{"))) {
            FUZZ_CHECK(Attribute(xml, tag, QStringLiteral("TYPE")) == ReadBack(values.type));
        }
        if (!values.category.contains(QStringLiteral("{{"))) {
            FUZZ_CHECK(Attribute(xml, tag, QStringLiteral("CATEGORY")) ==
                       ReadBack(values.category));
        }
    } else {
        CheckRefused(QStringLiteral("TitleTemplate.xml"),
                     [&] { return WriteTemplateXml(Folder(), values); });
    }

    // TitleTemplate.clt: the folder goes in first and keeps its closing "/".
    if (IsXmlText(CutAtNul(folder)) && IsXmlText(CutAtNul(firstFile))) {
        const QString text = FilledTemplateClt(folder, firstFile, duration);
        CheckFileText(text);
        const QList<Element> clt = Parse(text);
        CheckShape(clt, plainClt);
        if (!folder.contains(QStringLiteral("{{"))) {
            FUZZ_CHECK(
                Attribute(clt, QStringLiteral("Extension"), QStringLiteral("ReferencePath")) ==
                ReadBack(CutAtNul(folder) + u'/'));
        }
        const QString particle = QStringLiteral("ParticleAttribExt");
        if (!firstFile.contains(QStringLiteral("{{"))) {
            FUZZ_CHECK(Attribute(clt, particle, QStringLiteral("AnimationImage")) ==
                       ReadBack(CutAtNul(firstFile).replace(u' ', u'_')));
        }
        FUZZ_CHECK(Attribute(clt, particle, QStringLiteral("AnimationDuration")) ==
                   QString::number(duration));
    } else if (!IsXmlText(CutAtNul(firstFile))) {
        // The folder value is where the file goes, so only a first frame's name can be
        // tried against a real folder here.
        CheckRefused(QStringLiteral("TitleTemplate.clt"),
                     [&] { return WriteTemplateClt(Folder(), firstFile, duration); });
    }
    return 0;
}
