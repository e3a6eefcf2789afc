// The package check's reading of the two template files. Any bytes: no crash,
// and a file passes only when all three of its values are there, filled and not
// empty. Templates our writers fill: they pass exactly when their values are in
// place, and each value reads back as the writer was given it; cut anywhere
// short, they fail.
#include <QByteArray>
#include <QStringEncoder>

#include "FuzzInput.h"
#include "TemplateText.h"
#include "package/PackageCheck.h"
#include "package/Templates.h"

using namespace sparkloom;
using namespace sparkloom::fuzz;

namespace {

bool InPlace(const QString& value) {
    return !value.isEmpty() &&
           !(value.contains(QStringLiteral("{{")) && value.contains(QStringLiteral("}}")));
}

QByteArray FileBytes(const QString& text) {
    QStringEncoder toUtf16(QStringConverter::Utf16LE);
    return QByteArray("\xFF\xFE") + QByteArray(toUtf16.encode(text));
}

// A reading without faults has every value, filled and not empty.
void CheckPassMeansFilled(const TemplateReading& reading, const QStringList& attributes) {
    if (!reading.faults.isEmpty()) {
        return;
    }
    for (const QString& attribute : attributes) {
        const std::optional<QString> value = reading.Value(attribute);
        FUZZ_CHECK(value.has_value());
        FUZZ_CHECK(InPlace(*value));
    }
}

const QStringList kCltValues = {QStringLiteral("ReferencePath"), QStringLiteral("AnimationImage"),
                                QStringLiteral("AnimationDuration")};
const QStringList kXmlValues = {QStringLiteral("TYPE"), QStringLiteral("CATEGORY"),
                                QStringLiteral("ALIAS")};

// A cut file never passes.
void CheckCuts(const QByteArray& bytes, uint hash, TemplateReading (*read)(const QByteArray&)) {
    const qsizetype cut = 1 + static_cast<qsizetype>(hash % static_cast<uint>(bytes.size() - 1));
    FUZZ_CHECK(!read(bytes.left(bytes.size() - cut)).faults.isEmpty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzz::Fields(data, size);
    const QByteArray mode = fuzz::FieldAt(fields, 0);
    const uint hash = static_cast<uint>(qHashBits(data, size));

    if (mode != "fill") {
        // Raw bytes after the first field: what a hand-made package may hold.
        const QByteArray all(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
        const QByteArray bytes = all.mid(mode.size() + 1);
        CheckPassMeansFilled(ReadTemplateClt(bytes), kCltValues);
        CheckPassMeansFilled(ReadTemplateXml(bytes), kXmlValues);
        return 0;
    }

    const TemplateXmlValues values{fuzz::TextAt(fields, 1), fuzz::TextAt(fields, 2),
                                   fuzz::TextAt(fields, 3)};
    const QString folder = fuzz::TextAt(fields, 4);
    const QString firstFile = fuzz::TextAt(fields, 5);
    bool numeric = false;
    int32_t duration = fuzz::FieldAt(fields, 6).toInt(&numeric);
    if (!numeric) {
        duration = static_cast<int32_t>(hash);
    }

    if (IsXmlText(ReadBack(values.type)) && IsXmlText(ReadBack(values.category)) &&
        IsXmlText(ReadBack(values.particleName))) {
        const QByteArray bytes = FileBytes(FilledTemplateXml(values));
        const TemplateReading reading = ReadTemplateXml(bytes);
        CheckPassMeansFilled(reading, kXmlValues);
        // The name goes in last, so only it is sure to read back as typed.
        const QString alias = ReadBack(values.particleName);
        FUZZ_CHECK(reading.Value(QStringLiteral("ALIAS")) == alias);
        const bool plain = !values.type.contains(QStringLiteral("{{")) &&
                           !values.category.contains(QStringLiteral("{{"));
        if (plain) {
            FUZZ_CHECK(reading.Value(QStringLiteral("TYPE")) == ReadBack(values.type));
            FUZZ_CHECK(reading.Value(QStringLiteral("CATEGORY")) == ReadBack(values.category));
            const bool inPlace = InPlace(ReadBack(values.type)) &&
                                 InPlace(ReadBack(values.category)) && InPlace(alias);
            FUZZ_CHECK(reading.faults.isEmpty() == inPlace);
        }
        CheckCuts(bytes, hash, ReadTemplateXml);
    }

    if (IsXmlText(ReadBack(folder)) && IsXmlText(ReadBack(firstFile))) {
        const QByteArray bytes = FileBytes(FilledTemplateClt(folder, firstFile, duration));
        const TemplateReading reading = ReadTemplateClt(bytes);
        CheckPassMeansFilled(reading, kCltValues);
        FUZZ_CHECK(reading.Value(QStringLiteral("AnimationDuration")) == QString::number(duration));
        if (!folder.contains(QStringLiteral("{{")) && !firstFile.contains(QStringLiteral("{{"))) {
            const QString path = ReadBack(CutAtNul(folder) + u'/');
            const QString first = ReadBack(CutAtNul(firstFile).replace(u' ', u'_'));
            FUZZ_CHECK(reading.Value(QStringLiteral("ReferencePath")) == path);
            FUZZ_CHECK(reading.Value(QStringLiteral("AnimationImage")) == first);
            FUZZ_CHECK(reading.faults.isEmpty() == (InPlace(path) && InPlace(first)));
        }
        CheckCuts(bytes, hash, ReadTemplateClt);
    }
    return 0;
}
