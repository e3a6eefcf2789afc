#include "package/PackageCheck.h"

#include <unzip.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <QThread>
#include <QXmlStreamReader>
#include <algorithm>
#include <array>
#include <chrono>
#include <future>
#include <vector>

#include "common/Files.h"
#include "extract/Extraction.h"
#include "package/FrameSequence.h"
#include "zip/AnsiText.h"

namespace sparkloom {

namespace {

const QString kEntryPrefix = QStringLiteral(".\\");
const QString kXmlEntry = QStringLiteral(".\\TitleTemplate.xml");
const QString kCltEntry = QStringLiteral(".\\TitleTemplate.clt");
const QStringList kNeededEntries = {kXmlEntry, kCltEntry, QStringLiteral(".\\Thumb.jpg"),
                                    QStringLiteral(".\\Thumb.png")};

// Far more than a filled template; a larger entry under that name is no template.
constexpr qint64 kTemplateLimit = 1 << 20;
// Notes and faults of one kind listed by name before the rest is only counted.
constexpr int kListed = 10;
constexpr uLong kUtf8NameFlag = 1u << 11;
constexpr int kPulseMs = 10;

struct Entry {
    QByteArray rawName;
    QString name;  // as the host reads it
    bool utf8 = false;
    unz_file_info64 info{};
    unz64_file_pos position{};
    bool toRead = false;  // its record allows reading its data
    bool keep = false;    // a template, whose data the later checks read
    bool readBack = false;
    QByteArray data;
    QStringList faults;
};

// Calls pulse at most every kPulseMs.
class Pulse {
public:
    explicit Pulse(const std::function<void()>& pulse) : mPulse(pulse) { mClock.start(); }
    void operator()() {
        if (mPulse && mClock.elapsed() >= kPulseMs) {
            mPulse();
            mClock.restart();
        }
    }

private:
    const std::function<void()>& mPulse;
    QElapsedTimer mClock;
};

// Large reads keep the time in inflating rather than in calls.
constexpr uInt kReadChunk = 1 << 18;
// Below this many compressed bytes a second thread costs more than it saves.
constexpr ZPOS64_T kSplitAbove = 8 << 20;

class Reader {
public:
    Reader(const QString& path, bool keepTemplates, const std::function<void()>& pulse)
        : mPath(path), mKeepTemplates(keepTemplates), mPulse(pulse) {}

    // Fills entries; false when the archive could not be opened at all.
    bool Read(QList<Entry>& entries, QList<PackageFault>& faults) {
        const QFileInfo info(mPath);
        if (!info.exists()) {
            faults << PackageFault{QString(), QStringLiteral("there is no such file")};
            return false;
        }
        if (info.isDir()) {
            faults << PackageFault{QString(), QStringLiteral("this is a folder, not a package")};
            return false;
        }
        if (info.size() == 0) {
            faults << PackageFault{QString(),
                                   QStringLiteral("the file is empty: it is not a ZIP archive")};
            return false;
        }
        unzFile zip = unzOpen64(QFile::encodeName(mPath).constData());
        if (zip == nullptr && IsEmptyArchive()) {
            return true;
        }
        if (zip == nullptr) {
            faults << PackageFault{QString(), NotOpenedText()};
            return false;
        }
        if (!EndRecordClosesFile()) {
            faults << PackageFault{QString(),
                                   QStringLiteral("the archive is cut short: its end record is "
                                                  "incomplete")};
        }
        unz_global_info64 global{};
        if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) {
            faults << PackageFault{QString(),
                                   QStringLiteral("the archive's table of contents is damaged")};
            unzClose(zip);
            return false;
        }
        std::vector<Entry> records;
        int step = global.number_entry == 0 ? UNZ_END_OF_LIST_OF_FILE : unzGoToFirstFile(zip);
        while (step == UNZ_OK) {
            records.push_back(Record(zip, faults));
            step = unzGoToNextFile(zip);
        }
        if (step != UNZ_END_OF_LIST_OF_FILE) {
            faults << PackageFault{
                QString(), QStringLiteral("the archive's table of contents is damaged after %1 "
                                          "of its %2 entries (minizip error %3)")
                               .arg(entries.size())
                               .arg(global.number_entry)
                               .arg(step)};
        }
        if (unzClose(zip) != UNZ_OK) {
            faults << PackageFault{QString(), QStringLiteral("the archive cannot be closed")};
        }
        ReadData(records);
        for (Entry& entry : records) {
            for (const QString& text : entry.faults) {
                faults << PackageFault{entry.name, text};
            }
            entries << std::move(entry);
        }
        return true;
    }

private:
    // minizip never looks for the end record at the file's first byte, so it
    // cannot open an archive of no entries: that end record alone.
    bool IsEmptyArchive() const {
        QFile file(mPath);
        if (!file.open(QIODevice::ReadOnly) || file.size() < 22) {
            return false;
        }
        const QByteArray end = file.read(22);
        const auto u16 = [&end](int at) {
            return static_cast<uchar>(end[at]) | (static_cast<uchar>(end[at + 1]) << 8);
        };
        return end.startsWith(QByteArray("PK\x05\x06", 4)) &&
               end.mid(4, 16) == QByteArray(16, '\0') && file.size() == 22 + u16(20);
    }

    // The end record with its comment must be the last bytes of the file; minizip
    // reads one whose last byte was cut away as if it were whole.
    bool EndRecordClosesFile() const {
        QFile file(mPath);
        const qint64 size = file.size();
        const qint64 from = std::max<qint64>(0, size - (22 + 0xFFFF));
        if (!file.open(QIODevice::ReadOnly) || !file.seek(from)) {
            return false;
        }
        const QByteArray tail = file.readAll();
        for (qsizetype at = tail.lastIndexOf("PK\x05\x06"); at >= 0;
             at = at == 0 ? -1 : tail.lastIndexOf("PK\x05\x06", at - 1)) {
            if (at + 22 <= tail.size()) {
                const int comment =
                    static_cast<uchar>(tail[at + 20]) | (static_cast<uchar>(tail[at + 21]) << 8);
                if (from + at + 22 + comment == size) {
                    return true;
                }
            }
        }
        return false;
    }

    QString NotOpenedText() const {
        QFile file(mPath);
        if (!file.open(QIODevice::ReadOnly)) {
            return QStringLiteral("the file cannot be read: %1").arg(file.errorString());
        }
        if (file.read(4) == QByteArray("PK\x03\x04", 4)) {
            return QStringLiteral(
                "the archive is cut short or damaged: its table of contents at the end "
                "cannot be found");
        }
        return QStringLiteral("the file is not a ZIP archive");
    }

    // The entry's record from the table of contents; its data are read later.
    Entry Record(unzFile zip, QList<PackageFault>& faults) const {
        Entry entry;
        unz_file_info64& info = entry.info;
        std::array<char, 65536> name{};
        if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0) !=
                UNZ_OK ||
            unzGetFilePos64(zip, &entry.position) != UNZ_OK) {
            faults << PackageFault{QString(), QStringLiteral("an entry's record is damaged")};
            return entry;
        }
        entry.rawName = QByteArray(
            name.data(), static_cast<qsizetype>(std::min<uLong>(info.size_filename, name.size())));
        entry.utf8 = (info.flag & kUtf8NameFlag) != 0;
        entry.name = entry.utf8 ? QString::fromUtf8(entry.rawName) : DecodeAnsi(entry.rawName);
        entry.keep = mKeepTemplates && (entry.name == kXmlEntry || entry.name == kCltEntry);
        if ((info.flag & 1u) != 0) {
            entry.faults << QStringLiteral("it is encrypted, which the host cannot read");
        } else if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
            entry.faults << QStringLiteral(
                                "it is compressed with method %1; the host reads only deflate "
                                "(8) and stored (0)")
                                .arg(info.compression_method);
        } else if (entry.keep && info.uncompressed_size > static_cast<ZPOS64_T>(kTemplateLimit)) {
            entry.faults << QStringLiteral("it is %1 bytes long, far too large for a template")
                                .arg(info.uncompressed_size);
        } else {
            entry.toRead = true;
        }
        return entry;
    }

    // Inflating is the cost of the check, so a large archive is read by two
    // threads, each with its own reader, over halves of the compressed bytes.
    // This thread only pulses meanwhile.
    void ReadData(std::vector<Entry>& entries) {
        ZPOS64_T total = 0;
        for (const Entry& entry : entries) {
            total += entry.info.compressed_size;
        }
        const int threads =
            total >= kSplitAbove ? std::clamp(QThread::idealThreadCount(), 1, 2) : 1;
        std::vector<std::future<void>> workers;
        size_t from = 0;
        ZPOS64_T taken = 0;
        for (int t = 1; t <= threads; ++t) {
            size_t to = from;
            while (to < entries.size() && (t == threads || taken < total / threads * t)) {
                taken += entries[to++].info.compressed_size;
            }
            workers.push_back(std::async(
                std::launch::async, [this, &entries, from, to] { ReadRange(entries, from, to); }));
            from = to;
        }
        for (std::future<void>& worker : workers) {
            while (worker.wait_for(std::chrono::milliseconds(kPulseMs)) !=
                   std::future_status::ready) {
                mPulse();
            }
            worker.get();
        }
    }

    void ReadRange(std::vector<Entry>& entries, size_t from, size_t to) const {
        if (from == to) {
            return;
        }
        unzFile zip = unzOpen64(QFile::encodeName(mPath).constData());
        std::vector<char> buffer(kReadChunk);
        for (size_t i = from; i < to; ++i) {
            Entry& entry = entries[i];
            if (!entry.toRead) {
                continue;
            }
            if (zip == nullptr || unzGoToFilePos64(zip, &entry.position) != UNZ_OK) {
                entry.faults << QStringLiteral("it cannot be found again in the archive");
                continue;
            }
            ReadOne(zip, entry, buffer);
        }
        if (zip != nullptr) {
            unzClose(zip);
        }
    }

    static void ReadOne(unzFile zip, Entry& entry, std::vector<char>& buffer) {
        const int opened = unzOpenCurrentFile(zip);
        if (opened != UNZ_OK) {
            entry.faults
                << (opened == UNZ_BADZIPFILE
                        ? QStringLiteral("its local header does not match the table of "
                                         "contents")
                        : QStringLiteral("it cannot be opened (minizip error %1)").arg(opened));
            return;
        }
        ZPOS64_T total = 0;
        int got = 0;
        while ((got = unzReadCurrentFile(zip, buffer.data(), kReadChunk)) > 0) {
            if (entry.keep) {
                entry.data.append(buffer.data(), got);
            }
            total += static_cast<ZPOS64_T>(got);
        }
        const int closed = unzCloseCurrentFile(zip);
        if (got < 0) {
            entry.faults << (got == Z_DATA_ERROR
                                 ? QStringLiteral("its compressed data are damaged")
                                 : QStringLiteral("its data cannot be read (%1)")
                                       .arg(got == UNZ_ERRNO
                                                ? QStringLiteral("the archive is cut short")
                                                : QStringLiteral("minizip error %1").arg(got)));
        } else if (total != entry.info.uncompressed_size) {
            entry.faults << QStringLiteral(
                                "it reads back as %1 bytes where the table of contents says %2")
                                .arg(total)
                                .arg(entry.info.uncompressed_size);
        } else if (closed == UNZ_CRCERROR) {
            entry.faults << QStringLiteral("its data do not match their CRC: the entry is damaged");
        } else if (closed != UNZ_OK) {
            entry.faults << QStringLiteral("it cannot be closed (minizip error %1)").arg(closed);
        } else {
            entry.readBack = true;
        }
        if (!entry.keep) {
            entry.data.clear();
        }
    }

    QString mPath;
    bool mKeepTemplates;
    Pulse mPulse;
};

// ----- templates ------------------------------------------------------------------

struct Wanted {
    const char* path;  // the element's ancestors and itself, joined by "/"
    const char* attribute;
};

// "" when bytes hold UTF-16LE text with a byte-order mark, else why not; text gets the
// text after the mark.
QString Utf16Text(const QByteArray& bytes, QString& text) {
    if (bytes.isEmpty()) {
        return QStringLiteral("it is empty");
    }
    if (!bytes.startsWith("\xFF\xFE")) {
        return bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith('<')
                   ? QStringLiteral("it is not UTF-16 text (it looks like 8-bit or UTF-8 text)")
                   : QStringLiteral("it is not UTF-16LE text with a byte-order mark");
    }
    if (bytes.size() % 2 != 0) {
        return QStringLiteral("it is not UTF-16 text: it ends in half a character");
    }
    QStringDecoder fromUtf16(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
    text = fromUtf16.decode(QByteArrayView(bytes).sliced(2));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            return QStringLiteral("it is not UTF-16 text: character %1 is half a pair").arg(i + 1);
        }
    }
    return QString();
}

TemplateReading ReadTemplate(const QByteArray& bytes, const QString& root,
                             std::initializer_list<Wanted> wanted) {
    TemplateReading reading;
    QString text;
    if (const QString notText = Utf16Text(bytes, text); !notText.isEmpty()) {
        reading.faults << notText;
        return reading;
    }
    QXmlStreamReader xml(text);
    QStringList path;
    QSet<QString> seen;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (path.isEmpty() && xml.name() != root) {
                reading.faults << QStringLiteral("its top element is <%1>, not <%2>")
                                      .arg(xml.name().toString(), root);
            }
            path << xml.name().toString();
            const QString here = path.join(u'/');
            for (const Wanted& want : wanted) {
                const QString attribute = QString::fromLatin1(want.attribute);
                if (here == QLatin1String(want.path) && !seen.contains(attribute) &&
                    xml.attributes().hasAttribute(attribute)) {
                    seen.insert(attribute);
                    reading.values
                        << std::pair{attribute, xml.attributes().value(attribute).toString()};
                }
            }
        } else if (token == QXmlStreamReader::EndElement) {
            path.removeLast();
        }
    }
    if (xml.hasError()) {
        reading.faults << QStringLiteral("it is not well-formed XML (line %1, column %2: %3)")
                              .arg(xml.lineNumber())
                              .arg(xml.columnNumber())
                              .arg(xml.errorString());
        return reading;
    }
    for (const Wanted& want : wanted) {
        const QString attribute = QString::fromLatin1(want.attribute);
        const std::optional<QString> value = reading.Value(attribute);
        const QString element = QString::fromLatin1(want.path).section(u'/', -1);
        if (!value) {
            reading.faults << QStringLiteral("it has no %1 in <%2>").arg(attribute, element);
        } else if (value->isEmpty()) {
            reading.faults << QStringLiteral("its %1 is empty").arg(attribute);
        } else if (value->contains(QStringLiteral("{{")) && value->contains(QStringLiteral("}}"))) {
            reading.faults
                << QStringLiteral("its %1 \"%2\" still holds a placeholder").arg(attribute, *value);
        }
    }
    return reading;
}

// ----- the package's files ---------------------------------------------------------

QString Listed(const QStringList& names) {
    QStringList shown = names.mid(0, kListed);
    if (names.size() > kListed) {
        shown << QStringLiteral("and %1 more").arg(names.size() - kListed);
    }
    return shown.join(QStringLiteral(", "));
}

QString Counted(qsizetype count, const QString& one, const QString& many) {
    return QString::number(count) + u' ' + (count == 1 ? one : many);
}

// "" when the host can carry name in its 8-bit code page, else why not.
QString NameFault(const Entry& entry) {
    if (!entry.name.startsWith(kEntryPrefix)) {
        return QStringLiteral("its name does not start with .\\ as the host expects");
    }
    if (entry.name.size() == kEntryPrefix.size()) {
        return QStringLiteral("its name is empty after .\\");
    }
    if (entry.utf8 && std::any_of(entry.rawName.begin(), entry.rawName.end(),
                                  [](char c) { return static_cast<uchar>(c) >= 0x80; })) {
        return QStringLiteral("its name is marked as UTF-8; the host reads names in Windows-1252");
    }
    if (entry.name.contains(u'/')) {
        return QStringLiteral("its name holds \"/\"; the host separates folders with \"\\\"");
    }
    for (const char byte : entry.rawName) {
        const auto code = static_cast<uchar>(byte);
        if (code < 0x20 || code == 0x7F ||
            DecodeAnsi(QByteArray(1, byte))[0] == QChar::ReplacementCharacter) {
            return QStringLiteral("its name holds the byte 0x%1, which Windows-1252 cannot carry")
                .arg(static_cast<uint>(code), 2, 16, QChar(u'0'));
        }
    }
    return QString();
}

class Checker {
public:
    Checker(const QList<Entry>& entries, PackageCheckLevel level, PackageCheck& check)
        : mEntries(entries), mLevel(level), mCheck(check) {
        for (const Entry& entry : mEntries) {
            ++mCount[entry.name];
        }
    }

    void Run() {
        std::optional<QString> firstFrame = NeededFiles();
        if (mLevel != PackageCheckLevel::Whole) {
            return;
        }
        Names();
        Record();
        Frames(firstFrame);
    }

private:
    void Fault(const QString& entry, const QString& text) {
        mCheck.faults << PackageFault{entry, text};
    }

    const Entry* Find(const QString& name) const {
        for (const Entry& entry : mEntries) {
            if (entry.name == name) {
                return &entry;
            }
        }
        return nullptr;
    }

    // The data of a template entry that read back, or nothing (its fault is told already).
    std::optional<QByteArray> TemplateData(const QString& name) const {
        const Entry* entry = Find(name);
        if (entry == nullptr || !entry->readBack) {
            return std::nullopt;
        }
        return entry->data;
    }

    // Returns the first frame's file name when the script names one.
    std::optional<QString> NeededFiles() {
        if (mEntries.isEmpty()) {
            Fault(QString(), QStringLiteral("the archive holds no entries"));
        }
        for (const QString& needed : kNeededEntries) {
            if (!mCount.contains(needed)) {
                Fault(needed, QStringLiteral("it is missing"));
            }
        }
        const std::optional<QByteArray> clt = TemplateData(kCltEntry);
        if (!clt) {
            return std::nullopt;
        }
        const TemplateReading script = ReadTemplateClt(*clt);
        for (const QString& fault : script.faults) {
            Fault(kCltEntry, fault);
        }
        const std::optional<QString> first = script.Value(QStringLiteral("AnimationImage"));
        if (!first || first->isEmpty() || first->contains(QStringLiteral("{{")) ||
            first->contains(u'/') || first->contains(u'\\')) {
            if (first && (first->contains(u'/') || first->contains(u'\\'))) {
                Fault(kCltEntry,
                      QStringLiteral("its AnimationImage \"%1\" is not a file name").arg(*first));
            }
            return std::nullopt;
        }
        if (!mCount.contains(kEntryPrefix + *first)) {
            Fault(kEntryPrefix + *first,
                  QStringLiteral("it is missing: it is the first frame the script names"));
        }
        if (mLevel == PackageCheckLevel::Whole) {
            mDuration = script.Value(QStringLiteral("AnimationDuration"));
        }
        return first;
    }

    void Names() {
        QStringList folderEntries;
        QStringList inSubfolders;
        for (const Entry& entry : mEntries) {
            if (const QString fault = NameFault(entry); !fault.isEmpty()) {
                Fault(entry.name, fault);
                mBadNames.insert(entry.name);
                continue;
            }
            const QString relative = entry.name.mid(kEntryPrefix.size());
            if (relative.endsWith(u'\\')) {
                folderEntries << entry.name;
            } else if (relative.contains(u'\\')) {
                inSubfolders << entry.name;
            }
        }
        for (auto it = mCount.cbegin(); it != mCount.cend(); ++it) {
            if (it.value() > 1) {
                Fault(it.key(), QStringLiteral("it is in the archive %1 times").arg(it.value()));
            }
        }
        if (!folderEntries.isEmpty()) {
            mCheck.notes << QStringLiteral("folder entries, which the host skips: ") +
                                Listed(folderEntries);
        }
        if (!inSubfolders.isEmpty()) {
            mCheck.notes << Counted(inSubfolders.size(), QStringLiteral("file in a subfolder"),
                                    QStringLiteral("files in subfolders")) +
                                QStringLiteral(", which the particle does not use: ") +
                                Listed(inSubfolders);
        }
    }

    void Record() {
        const std::optional<QByteArray> xml = TemplateData(kXmlEntry);
        if (!xml) {
            return;
        }
        for (const QString& fault : ReadTemplateXml(*xml).faults) {
            Fault(kXmlEntry, fault);
        }
    }

    void Frames(const std::optional<QString>& firstFrame) {
        QStringList topLevel;
        for (const Entry& entry : mEntries) {
            if (entry.name.startsWith(kEntryPrefix) &&
                !entry.name.mid(kEntryPrefix.size()).contains(u'\\')) {
                topLevel << entry.name.mid(kEntryPrefix.size());
            }
        }
        FrameSequence frames;
        if (firstFrame) {
            frames = FramesFrom(*firstFrame, topLevel);
            if (!frames.numbered) {
                mCheck.notes << QStringLiteral(
                                    "the first frame %1 is not named NAME_NNNNN.jpg, so its "
                                    "frames and duration were not checked")
                                    .arg(kEntryPrefix + *firstFrame);
            }
        }
        if (frames.numbered) {
            for (const int32_t number : frames.missing) {
                if (number == frames.first) {
                    continue;  // told as the missing first frame already
                }
                Fault(kEntryPrefix + FrameName(frames.prefix, number),
                      QStringLiteral("it is missing: the frames run from %1 to %2")
                          .arg(kEntryPrefix + FrameName(frames.prefix, frames.first),
                               kEntryPrefix + FrameName(frames.prefix, frames.last)));
            }
            if (frames.missingCount > frames.missing.size()) {
                Fault(QString(), QStringLiteral("%1 more frames are missing between %2 and %3")
                                     .arg(frames.missingCount - frames.missing.size())
                                     .arg(kEntryPrefix + FrameName(frames.prefix, frames.first),
                                          kEntryPrefix + FrameName(frames.prefix, frames.last)));
            }
            if (frames.earlier > 0) {
                mCheck.notes << Counted(frames.earlier, QStringLiteral("frame"),
                                        QStringLiteral("frames")) +
                                    QStringLiteral(
                                        " numbered before the first frame %1, not "
                                        "part of the animation")
                                        .arg(kEntryPrefix + *firstFrame);
            }
            Duration(frames);
        }

        QStringList extra;
        for (const QString& name : topLevel) {
            const QString entry = kEntryPrefix + name;
            const bool isFrame = frames.numbered && FrameNumberOf(name, frames.prefix) >= 0;
            if (!kNeededEntries.contains(entry) && !isFrame && name != firstFrame &&
                !mBadNames.contains(entry)) {
                extra << entry;
            }
        }
        if (!extra.isEmpty()) {
            mCheck.notes << Counted(extra.size(), QStringLiteral("extra file"),
                                    QStringLiteral("extra files")) +
                                QStringLiteral(", which the particle does not use: ") +
                                Listed(extra);
        }
    }

    void Duration(const FrameSequence& frames) {
        if (!mDuration) {
            return;  // its absence is a fault of the script already
        }
        bool numeric = false;
        const int32_t duration = mDuration->toInt(&numeric);
        const bool digits =
            !mDuration->isEmpty() && std::all_of(mDuration->begin(), mDuration->end(),
                                                 [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (!numeric || !digits) {
            Fault(kCltEntry,
                  QStringLiteral("its AnimationDuration \"%1\" is not a number of milliseconds")
                      .arg(*mDuration));
            return;
        }
        const int32_t expected = AnimationDurationFor(frames.count);
        if (duration != expected) {
            Fault(kCltEntry, QStringLiteral("its AnimationDuration is %1 ms, but the %2 frames "
                                            "from %3 on last %4 ms")
                                 .arg(duration)
                                 .arg(frames.count)
                                 .arg(kEntryPrefix + FrameName(frames.prefix, frames.first))
                                 .arg(expected));
        }
    }

    const QList<Entry>& mEntries;
    PackageCheckLevel mLevel;
    PackageCheck& mCheck;
    QHash<QString, int> mCount;
    QSet<QString> mBadNames;  // told as faults, so not listed as extra files
    std::optional<QString> mDuration;
};

}  // namespace

QString FaultLine(const PackageFault& fault) {
    return fault.entry.isEmpty() ? fault.text : fault.entry + QStringLiteral(": ") + fault.text;
}

QStringList PackageCheck::FaultLines() const {
    QStringList lines;
    for (const PackageFault& fault : faults) {
        lines << FaultLine(fault);
    }
    return lines;
}

std::optional<QString> TemplateReading::Value(const QString& attribute) const {
    for (const auto& [name, value] : values) {
        if (name == attribute) {
            return value;
        }
    }
    return std::nullopt;
}

TemplateReading ReadTemplateClt(const QByteArray& bytes) {
    const char* particle = "CTemplate/LayerList/MetaLayer/Emitter/Particle/ParticleAttribExt";
    return ReadTemplate(bytes, QStringLiteral("CTemplate"),
                        {{"CTemplate/Header/Extension", "ReferencePath"},
                         {particle, "AnimationImage"},
                         {particle, "AnimationDuration"}});
}

TemplateReading ReadTemplateXml(const QByteArray& bytes) {
    const char* record = "TEMPLATE_MGR/TEMPLATE_LIST/TEMPLATE";
    return ReadTemplate(bytes, QStringLiteral("TEMPLATE_MGR"),
                        {{record, "TYPE"}, {record, "CATEGORY"}, {record, "ALIAS"}});
}

PackageCheck CheckPackage(const QString& path, PackageCheckLevel level,
                          const std::function<void()>& pulse) {
    PackageCheck check;
    QList<Entry> entries;
    Reader reader(path, level != PackageCheckLevel::Archive, pulse);
    if (!reader.Read(entries, check.faults)) {
        return check;
    }
    check.entries = static_cast<int>(entries.size());
    if (level != PackageCheckLevel::Archive) {
        Checker(entries, level, check).Run();
    }
    return check;
}

PackageCheck ReadBackPackage(const QString& path, bool canceled,
                             const std::function<void()>& pulse) {
    return CheckPackage(
        path, canceled ? PackageCheckLevel::Archive : PackageCheckLevel::NeededFiles, pulse);
}

QString ReadBackFailureText(const QString& path, const PackageCheck& check) {
    QStringList lines = check.FaultLines();
    if (lines.size() > kListed) {
        const qsizetype more = lines.size() - kListed;
        lines = lines.mid(0, kListed);
        lines << QStringLiteral("(and %1 more)").arg(more);
    }
    return QStringLiteral("The package %1 was written but does not read back whole:\r\n")
               .arg(Shown(path)) +
           lines.join(QStringLiteral("\r\n"));
}

}  // namespace sparkloom
