#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace sparkloom {

enum class PackageCheckLevel {
    Archive,      // every entry's data reads back with its CRC and size
    NeededFiles,  // and both templates, both thumbnails and the script's first frame are there
    Whole,        // and entry names, template values, frames and duration are right
};

// One thing that keeps the host editor from using the package.
struct PackageFault {
    QString entry;  // the entry's name as stored, e.g. ".\Fire_00007.jpg"; "" for the archive
    QString text;
};

// "entry: text", or the text alone for the archive as a whole.
QString FaultLine(const PackageFault& fault);

struct PackageCheck {
    QList<PackageFault> faults;
    QStringList notes;  // what the host ignores: extra files, subfolders
    int entries = 0;    // entries read

    bool IsWhole() const { return faults.isEmpty(); }
    QStringList FaultLines() const;
};

// Reads the package at path with minizip's reader and checks it up to level.
// pulse, when given, is called every few milliseconds while data are read, so
// a window can repaint. Never throws; a file that is no archive is a fault.
PackageCheck CheckPackage(const QString& path, PackageCheckLevel level,
                          const std::function<void()>& pulse = {});

// The check every build runs on its package before it reports success: the
// needed files, or for a cancelled build only the archive itself.
PackageCheck ReadBackPackage(const QString& path, bool canceled,
                             const std::function<void()>& pulse = {});

// What is shown instead of "Success" when the read-back found faults.
QString ReadBackFailureText(const QString& path, const PackageCheck& check);

// One template file's contents as the check reads them.
struct TemplateReading {
    QStringList faults;  // why the file is no usable template; empty when it is
    // The checked attributes found, by attribute name; a value may still be faulty.
    QList<std::pair<QString, QString>> values;

    std::optional<QString> Value(const QString& attribute) const;
};

// TitleTemplate.clt: ReferencePath, AnimationImage and AnimationDuration.
TemplateReading ReadTemplateClt(const QByteArray& bytes);
// TitleTemplate.xml: TYPE, CATEGORY and ALIAS of the TEMPLATE record.
TemplateReading ReadTemplateXml(const QByteArray& bytes);

}  // namespace sparkloom
