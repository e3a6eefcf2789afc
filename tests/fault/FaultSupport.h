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

#include "app/Form1.h"
#include "support/ScriptedSeam.h"
#include "support/TestSupport.h"
#include "zip/Zipper.h"

namespace sparkloom::test {

template <typename T>
T* Control(QWidget& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

inline void Click(QWidget& form, const char* name) {
    QTest::mouseClick(Control<QPushButton>(form, name), Qt::LeftButton);
}

inline QString Status(QWidget& form) {
    return Control<QPlainTextEdit>(form, "txtStatus")->toPlainText();
}

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// size bytes that deflate cannot shrink, the same for the same seed.
inline bool WriteNoise(const QString& path, qint64 size, quint64 seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint64 state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (qint64 left = size; left > 0;) {
        auto* words = reinterpret_cast<quint64*>(block.data());
        for (qsizetype i = 0; i < block.size() / 8; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[i] = state;
        }
        const qint64 piece = std::min<qint64>(left, block.size());
        if (file.write(block.constData(), piece) != piece) {
            return false;
        }
        left -= piece;
    }
    return true;
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

inline bool WaitUntilIdle(Form1& form, int timeoutMs = 60000) {
    return QTest::qWaitFor([&form] { return !form.ArchiveBuilder().Zipping(); }, timeoutMs);
}

// Video → frames → thumbnail → first frame → type and category, the way a user
// goes. Returns "" or what went wrong.
inline QString PrepareBuild(Form1& form, ScriptedSeam& seam, const QString& video,
                            const QString& frames, const QString& particleName = QString()) {
    seam.fileAnswers << video;
    Click(form, "cmdProjectFile");
    if (!particleName.isNull()) {
        Control<QLineEdit>(form, "txtParticleName")->setText(particleName);
    }
    seam.folderAnswers << frames;
    Click(form, "cmdExtract");
    if (!Control<QPushButton>(form, "cmdThumb")->isEnabled()) {
        return QStringLiteral("extraction failed: ") + seam.Messages().join(u'|');
    }
    const QString prefix = Control<QLineEdit>(form, "txtParticleName")->text().replace(u' ', u'_');
    seam.fileAnswers << frames + u'/' + prefix + QStringLiteral("_00002.jpg");
    Click(form, "cmdThumb");
    seam.fileAnswers << frames + u'/' + prefix + QStringLiteral("_00001.jpg");
    Click(form, "cmdAnimImage");
    Control<QComboBox>(form, "cboType")->setCurrentIndex(0);
    Control<QComboBox>(form, "cboCat")->setCurrentIndex(1);
    if (!Control<QPushButton>(form, "cmdDZP")->isEnabled()) {
        return QStringLiteral("Build Particle stayed disabled: ") + seam.Messages().join(u'|');
    }
    seam.shown.clear();
    return QString();
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

inline QString AttributeOf(const QByteArray& utf16File, const QString& element,
                           const QString& name) {
    QXmlStreamReader reader(utf16File);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == element) {
            return reader.attributes().value(name).toString();
        }
    }
    return QStringLiteral("<missing: %1>").arg(reader.errorString());
}

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
