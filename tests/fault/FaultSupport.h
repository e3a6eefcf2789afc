#pragma once

// Driving the real window through the road, and the evidence the fault tests
// compare: folder contents byte for byte and archives read by Python's zipfile.

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <system_error>

#include "app/Form1.h"
#include "support/ScriptedSeam.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"
#include "zip/Zipper.h"

namespace sparkloom::test {

// A failed packing's status line: the window's "Err N in STEP", then ": " and
// the system's words for error (as strerror gives them); the text alone for 0.
inline QString WithReason(const QString& status, int error) {
    if (error == 0) {
        return status;
    }
    return status + QStringLiteral(": ") +
           QString::fromStdString(std::generic_category().message(error));
}

// Every file under folder, hidden ones included, by relative path, with its bytes.
using Snapshot = QMap<QString, QByteArray>;
inline Snapshot SnapshotOf(const QString& folder) {
    Snapshot files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), ReadAll(path));
    }
    return files;
}

// The raw entry name of a file in the frames folder, as the package stores it.
inline QByteArray EntryNameOf(const QString& relativePath) {
    return QByteArray(".\\") + relativePath.toLatin1().replace('/', '\\');
}

// Every entry of the package holds exactly the bytes of its source file in
// folder, and its name is that of a file there. Returns "" or the first fault.
inline QString EntriesMatchSources(const QList<ArchiveEntry>& entries, const Snapshot& sources) {
    for (const ArchiveEntry& entry : entries) {
        bool found = false;
        for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
            if (EntryNameOf(it.key()) == entry.rawName) {
                if (entry.data != it.value()) {
                    return QStringLiteral("wrong bytes in ") + QString::fromLatin1(entry.rawName);
                }
                found = true;
                break;
            }
        }
        if (!found) {
            return QStringLiteral("no source for ") + QString::fromLatin1(entry.rawName);
        }
    }
    return QString();
}

// Each would leave a file named canary* in the working folder if a shell ran it.
inline const QString kShellBait =
    QStringLiteral("$HOME $(touch canary1) `touch canary2` ;touch canary3");

// The frames ffmpeg wrote, hidden ones included.
inline QStringList FrameNamesIn(const QString& folder) {
    QStringList names =
        QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Hidden, QDir::Name);
    names.removeAll(QStringLiteral("Thumb.jpg"));
    return names;
}

inline QStringList ExpectedFrames(const QString& prefix) {
    QStringList names;
    for (int i = 1; i <= 30; ++i) {
        names << prefix + QStringLiteral("_%1.jpg").arg(i, 5, 10, QChar(u'0'));
    }
    return names;
}

inline QString WithPackageName(const QString& path) {
    return path.contains(u'.') ? path : path + QStringLiteral(".dzp");
}

// Builds the prepared window into package; the package's entries by raw name,
// none unless the build ended with "Success".
inline QMap<QByteArray, QByteArray> BuildAndRead(Form1& form, ScriptedSeam& seam,
                                                 const QString& package) {
    seam.shown.clear();
    seam.fileAnswers << package;
    Click(form, "cmdDZP");
    QMap<QByteArray, QByteArray> entries;
    QList<ArchiveEntry> read;
    if (WaitUntilIdle(form) && Status(form) == QStringLiteral("Success") &&
        ReadArchive(WithPackageName(package), read)) {
        for (const ArchiveEntry& entry : read) {
            entries.insert(entry.rawName, entry.data);
        }
    }
    return entries;
}

// A folder per case under one temporary root, a test clip, and a working folder
// for ffmpeg that must stay empty: together they show that no shell bait ran.
class BaitSandbox {
public:
    QString NewFolder(const QString& name) {
        const QString path = mRoot.path() + QStringLiteral("/%1/%2").arg(++mCase).arg(name);
        QDir().mkpath(path);
        return path;
    }
    // Empty when ready, else what went wrong.
    QString Prepare() {
        if (!mRoot.isValid()) {
            return QStringLiteral("no temporary folder");
        }
        mClip = NewFolder(QStringLiteral("clip")) + QStringLiteral("/clip.mp4");
        mWorking = NewFolder(QStringLiteral("working"));
        if (!MakeClip(mClip) || !QDir::setCurrent(mWorking)) {
            return QStringLiteral("no test clip or working folder");
        }
        return QString();
    }
    // Empty when no bait ran anywhere and the working folder stayed empty.
    QString BaitsThatRan() const {
        QDirIterator all(mRoot.path(), {QStringLiteral("canary*")}, QDir::Files,
                         QDirIterator::Subdirectories);
        if (all.hasNext()) {
            return all.next();
        }
        if (!QDir(mWorking).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            return mWorking + QStringLiteral(" is not empty");
        }
        return QString();
    }
    const QString& Clip() const { return mClip; }

private:
    QTemporaryDir mRoot;
    QString mClip;
    QString mWorking;  // the working folder ffmpeg inherits
    int mCase = 0;
};

}  // namespace sparkloom::test
