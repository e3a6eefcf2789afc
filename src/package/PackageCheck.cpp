#include "package/PackageCheck.h"

#include <expat.h>
#include <ioapi.h>
#include <unzip.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "common/Files.h"
#include "common/FrameSequence.h"
#include "common/Text.h"
#include "extract/Extraction.h"
#include "platform/ZipFileIo.h"
#include "zip/AnsiText.h"

namespace sparkloom {

namespace {

namespace fs = std::filesystem;

const std::string kEntryPrefix = ".\\";
const std::string kXmlEntry = ".\\TitleTemplate.xml";
const std::string kCltEntry = ".\\TitleTemplate.clt";
const std::vector<std::string> kNeededEntries = {kXmlEntry, kCltEntry, ".\\Thumb.jpg",
                                                 ".\\Thumb.png"};

// A filled template is a few KiB; the longest folder path Windows allows adds
// 64 KiB to the script. A larger entry under that name is no template, and its
// bytes never reach the XML parser.
constexpr int64_t kTemplateLimit = 256 << 10;
// Notes and faults of one kind listed by name before the rest is only counted.
constexpr std::size_t kListed = 10;
constexpr uLong kUtf8NameFlag = 1u << 11;
constexpr auto kPulse = std::chrono::milliseconds(10);
const std::string kReplacement = "\xEF\xBF\xBD";
const std::string kDoctypeFault = "it holds a document type declaration";
const std::string kEntityFault = "it holds an entity declaration";

bool Contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// UTF-8 bytes as text, each byte that is no UTF-8 read as U+FFFD.
std::string LenientUtf8(std::string_view bytes) {
    if (IsUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string text;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::string_view one = bytes.substr(i, length);
        if (one.size() == length && IsUtf8(one)) {
            text += one;
            i += length;
        } else {
            text += kReplacement;
            ++i;
        }
    }
    return text;
}

std::string TemplateSizeFault(uint64_t size) {
    return "it is " + std::to_string(size) + " bytes long, far too large for a template";
}

struct Entry {
    std::string rawName;
    std::string name;  // as the host reads it
    bool utf8 = false;
    unz_file_info64 info{};
    unz64_file_pos position{};
    bool toRead = false;  // its record allows reading its data
    bool keep = false;    // a template, whose data the later checks read
    bool readBack = false;
    std::string data;
    std::vector<std::string> faults;
};

// Calls pulse at most every kPulse.
class Pulse {
public:
    explicit Pulse(const std::function<void()>& pulse)
        : mPulse(pulse), mLast(std::chrono::steady_clock::now()) {}
    void operator()() {
        const auto now = std::chrono::steady_clock::now();
        if (mPulse && now - mLast >= kPulse) {
            mPulse();
            mLast = now;
        }
    }

private:
    const std::function<void()>& mPulse;
    std::chrono::steady_clock::time_point mLast;
};

// Large reads keep the time in inflating rather than in calls.
constexpr uInt kReadChunk = 1 << 18;
// Below this many compressed bytes a second thread costs more than it saves.
constexpr ZPOS64_T kSplitAbove = 8 << 20;

// One archive opened by minizip's reader through the path itself, not its 8-bit
// form; the file functions keep the system's reason of a failed read.
class OpenArchive {
public:
    explicit OpenArchive(const fs::path& path) {
        zlib_filefunc64_def files{};
        mIo.Fill(files);
        mZip = unzOpen2_64(&path, &files);
    }
    ~OpenArchive() { Close(); }
    OpenArchive(const OpenArchive&) = delete;
    OpenArchive& operator=(const OpenArchive&) = delete;

    unzFile Get() const { return mZip; }
    int Close() {
        const int closed = mZip != nullptr ? unzClose(mZip) : UNZ_OK;
        mZip = nullptr;
        return closed;
    }
    std::error_code Error() const { return mIo.Error(); }

private:
    platform::ZipFileIo mIo;  // outlives mZip
    unzFile mZip = nullptr;
};

// The file's first bytes, or its last ones from `from` on; "" when unreadable.
std::string ReadBytes(const fs::path& path, std::streamoff from, std::size_t most) {
    std::ifstream file(path, std::ios::binary);
    if (!file || !file.seekg(from)) {
        return {};
    }
    std::string bytes(most, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(most));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

class Reader {
public:
    Reader(const std::string& path, bool keepTemplates, const std::function<void()>& pulse)
        : mPath(path), mFile(PathFromUtf8(path)), mKeepTemplates(keepTemplates), mPulse(pulse) {}

    // Fills entries; false when the archive could not be opened at all.
    bool Read(std::vector<Entry>& entries, std::vector<PackageFault>& faults) {
        std::error_code error;
        const fs::file_status status =
            mPath.find('\0') != std::string::npos ? fs::file_status() : fs::status(mFile, error);
        if (!fs::exists(status)) {
            faults.push_back({{}, "there is no such file"});
            return false;
        }
        if (fs::is_directory(status)) {
            faults.push_back({{}, "this is a folder, not a package"});
            return false;
        }
        mSize = fs::file_size(mFile, error);
        if (error) {
            mSize = 0;
        }
        if (mSize == 0) {
            faults.push_back({{}, "the file is empty: it is not a ZIP archive"});
            return false;
        }
        OpenArchive zip(mFile);
        if (zip.Get() == nullptr && IsEmptyArchive()) {
            return true;
        }
        if (zip.Get() == nullptr) {
            faults.push_back({{}, NotOpenedText()});
            return false;
        }
        if (!EndRecordClosesFile()) {
            faults.push_back({{}, "the archive is cut short: its end record is incomplete"});
        }
        unz_global_info64 global{};
        if (unzGetGlobalInfo64(zip.Get(), &global) != UNZ_OK) {
            faults.push_back({{}, "the archive's table of contents is damaged"});
            return false;
        }
        std::vector<Entry> records;
        int step = global.number_entry == 0 ? UNZ_END_OF_LIST_OF_FILE : unzGoToFirstFile(zip.Get());
        while (step == UNZ_OK) {
            records.push_back(Record(zip.Get(), faults));
            step = unzGoToNextFile(zip.Get());
        }
        if (step != UNZ_END_OF_LIST_OF_FILE) {
            faults.push_back({{},
                              "the archive's table of contents is damaged after " +
                                  std::to_string(records.size()) + " of its " +
                                  std::to_string(global.number_entry) + " entries (minizip error " +
                                  std::to_string(step) + ")"});
        }
        if (zip.Close() != UNZ_OK) {
            faults.push_back({{}, "the archive cannot be closed"});
        }
        ReadData(records);
        for (Entry& entry : records) {
            for (const std::string& text : entry.faults) {
                faults.push_back({entry.name, text});
            }
            entries.push_back(std::move(entry));
        }
        return true;
    }

private:
    static unsigned U16(std::string_view bytes, std::size_t at) {
        return static_cast<unsigned char>(bytes[at]) |
               (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8);
    }

    // minizip never looks for the end record at the file's first byte, so it
    // cannot open an archive of no entries: that end record alone.
    bool IsEmptyArchive() const {
        if (mSize < 22) {
            return false;
        }
        const std::string end = ReadBytes(mFile, 0, 22);
        return end.size() == 22 && end.starts_with(std::string_view("PK\x05\x06", 4)) &&
               end.substr(4, 16) == std::string(16, '\0') && mSize == 22 + U16(end, 20);
    }

    // The end record with its comment must be the last bytes of the file; minizip
    // reads one whose last byte was cut away as if it were whole.
    bool EndRecordClosesFile() const {
        const uintmax_t from = mSize > 22 + 0xFFFF ? mSize - (22 + 0xFFFF) : 0;
        const std::string tail = ReadBytes(mFile, static_cast<std::streamoff>(from),
                                           static_cast<std::size_t>(mSize - from));
        const std::string_view signature("PK\x05\x06", 4);
        for (std::size_t at = tail.rfind(signature); at != std::string::npos;
             at = at == 0 ? std::string::npos : tail.rfind(signature, at - 1)) {
            if (at + 22 <= tail.size() && from + at + 22 + U16(tail, at + 20) == mSize) {
                return true;
            }
        }
        return false;
    }

    std::string NotOpenedText() const {
        errno = 0;
        std::ifstream file(mFile, std::ios::binary);
        if (!file.is_open()) {
            return "the file cannot be read: " +
                   (errno != 0 ? ReasonOfErrno(errno) : std::string("it cannot be opened"));
        }
        if (ReadBytes(mFile, 0, 4) == std::string_view("PK\x03\x04", 4)) {
            return "the archive is cut short or damaged: its table of contents at the end "
                   "cannot be found";
        }
        return "the file is not a ZIP archive";
    }

    // The entry's record from the table of contents; its data are read later.
    Entry Record(unzFile zip, std::vector<PackageFault>& faults) const {
        Entry entry;
        unz_file_info64& info = entry.info;
        std::array<char, 65536> name{};
        if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0) !=
                UNZ_OK ||
            unzGetFilePos64(zip, &entry.position) != UNZ_OK) {
            faults.push_back({{}, "an entry's record is damaged"});
            return entry;
        }
        entry.rawName = std::string(name.data(), std::min<uLong>(info.size_filename, name.size()));
        entry.utf8 = (info.flag & kUtf8NameFlag) != 0;
        entry.name = entry.utf8 ? LenientUtf8(entry.rawName) : DecodeAnsi(entry.rawName);
        entry.keep = mKeepTemplates && (entry.name == kXmlEntry || entry.name == kCltEntry);
        if ((info.flag & 1u) != 0) {
            entry.faults.push_back("it is encrypted, which the host cannot read");
        } else if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
            entry.faults.push_back("it is compressed with method " +
                                   std::to_string(info.compression_method) +
                                   "; the host reads only deflate (8) and stored (0)");
        } else if (entry.keep && info.uncompressed_size > static_cast<ZPOS64_T>(kTemplateLimit)) {
            entry.faults.push_back(TemplateSizeFault(info.uncompressed_size));
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
        const int cores = static_cast<int>(std::thread::hardware_concurrency());
        const int threads = total >= kSplitAbove ? std::clamp(cores, 1, 2) : 1;
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
            while (worker.wait_for(kPulse) != std::future_status::ready) {
                mPulse();
            }
            worker.get();
        }
    }

    void ReadRange(std::vector<Entry>& entries, size_t from, size_t to) const {
        if (from == to) {
            return;
        }
        OpenArchive zip(mFile);
        std::vector<char> buffer(kReadChunk);
        for (size_t i = from; i < to; ++i) {
            Entry& entry = entries[i];
            if (!entry.toRead) {
                continue;
            }
            if (zip.Get() == nullptr || unzGoToFilePos64(zip.Get(), &entry.position) != UNZ_OK) {
                entry.faults.push_back("it cannot be found again in the archive");
                continue;
            }
            ReadOne(zip, entry, buffer);
        }
    }

    static void ReadOne(const OpenArchive& zip, Entry& entry, std::vector<char>& buffer) {
        const int opened = unzOpenCurrentFile(zip.Get());
        if (opened != UNZ_OK) {
            entry.faults.push_back(opened == UNZ_BADZIPFILE
                                       ? "its local header does not match the table of contents"
                                       : "it cannot be opened (minizip error " +
                                             std::to_string(opened) + ")");
            return;
        }
        ZPOS64_T total = 0;
        int got = 0;
        while ((got = unzReadCurrentFile(zip.Get(), buffer.data(), kReadChunk)) > 0) {
            if (entry.keep) {
                entry.data.append(buffer.data(), static_cast<std::size_t>(got));
            }
            total += static_cast<ZPOS64_T>(got);
        }
        const int closed = unzCloseCurrentFile(zip.Get());
        if (got < 0) {
            // minizip says only that a read came up short; the system may know why.
            const std::string errnoText =
                zip.Error() ? ReasonOf(zip.Error()) : "the archive is cut short";
            entry.faults.push_back(
                got == Z_DATA_ERROR
                    ? "its compressed data are damaged"
                    : "its data cannot be read (" +
                          (got == UNZ_ERRNO ? errnoText : "minizip error " + std::to_string(got)) +
                          ")");
        } else if (total != entry.info.uncompressed_size) {
            entry.faults.push_back("it reads back as " + std::to_string(total) +
                                   " bytes where the table of contents says " +
                                   std::to_string(entry.info.uncompressed_size));
        } else if (closed == UNZ_CRCERROR) {
            entry.faults.push_back("its data do not match their CRC: the entry is damaged");
        } else if (closed != UNZ_OK) {
            entry.faults.push_back("it cannot be closed (minizip error " + std::to_string(closed) +
                                   ")");
        } else {
            entry.readBack = true;
        }
        if (!entry.keep) {
            entry.data.clear();
        }
    }

    std::string mPath;
    fs::path mFile;
    uintmax_t mSize = 0;
    bool mKeepTemplates;
    Pulse mPulse;
};

// ----- templates ------------------------------------------------------------------

// How a file's characters are laid out, guessed from its first bytes as XML
// readers guess it: a byte-order mark, else where the zero bytes of "<" lie.
struct Layout {
    std::size_t width;  // bytes per code unit
    bool bigEndian;
    std::size_t skip;  // the mark's length
};

Layout LayoutOf(std::string_view bytes) {
    using namespace std::string_view_literals;
    static const std::array<std::pair<std::string_view, Layout>, 9> kStarts = {{
        {"\x00\x00\xFE\xFF"sv, {4, true, 4}},
        {"\xFF\xFE\x00\x00"sv, {4, false, 4}},
        {"\xFE\xFF"sv, {2, true, 2}},
        {"\xFF\xFE"sv, {2, false, 2}},
        {"\xEF\xBB\xBF"sv, {1, false, 3}},
        {"\x00\x00\x00<"sv, {4, true, 0}},
        {"<\x00\x00\x00"sv, {4, false, 0}},
        {"\x00<"sv, {2, true, 0}},
        {"<\x00"sv, {2, false, 0}},
    }};
    for (const auto& [start, layout] : kStarts) {
        if (bytes.starts_with(start)) {
            return layout;
        }
    }
    return {1, false, 0};
}

// The file's markup in ASCII, whatever its encoding: every code unit above 0x7F
// becomes 0x80, letters become capitals. Units are decoded, not bytes dropped:
// UTF-16 letters of other scripts may be made of ASCII bytes.
std::string MarkupOf(std::string_view bytes) {
    const Layout layout = LayoutOf(bytes);
    std::string markup;
    markup.reserve((bytes.size() - layout.skip) / layout.width);
    for (std::size_t at = layout.skip; at + layout.width <= bytes.size(); at += layout.width) {
        uint32_t unit = 0;
        for (std::size_t i = 0; i < layout.width; ++i) {
            const std::size_t byte = layout.bigEndian ? i : layout.width - 1 - i;
            unit = unit << 8 | static_cast<unsigned char>(bytes[at + byte]);
        }
        const char c = unit < 0x80 ? static_cast<char>(unit) : '\x80';
        markup += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return markup;
}

// Templates are small and never declare a document type or an entity: a file
// from someone else that does is refused before any parser reads it, so the
// parser's DTD and entity code, and its handling of large input, are never
// reached. "" when the file may be parsed, else why not.
std::string TemplateDoorFault(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(kTemplateLimit)) {
        return TemplateSizeFault(bytes.size());
    }
    const std::string markup = MarkupOf(bytes);
    if (Contains(markup, "<!ENTITY")) {
        return kEntityFault;
    }
    if (Contains(markup, "<!DOCTYPE")) {
        return kDoctypeFault;
    }
    return {};
}

struct Wanted {
    const char* path;  // the element's ancestors and itself, joined by "/"
    const char* attribute;
};

// "" when bytes hold UTF-16LE text with a byte-order mark, else why not; text gets the
// text after the mark, as UTF-8.
std::string Utf16Text(std::string_view bytes, std::string& text) {
    if (bytes.empty()) {
        return "it is empty";
    }
    if (!bytes.starts_with("\xFF\xFE")) {
        return bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with('<')
                   ? "it is not UTF-16 text (it looks like 8-bit or UTF-8 text)"
                   : "it is not UTF-16LE text with a byte-order mark";
    }
    if (bytes.size() % 2 != 0) {
        return "it is not UTF-16 text: it ends in half a character";
    }
    std::u16string units;
    units.reserve(bytes.size() / 2 - 1);
    for (std::size_t at = 2; at < bytes.size(); at += 2) {
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                       (static_cast<unsigned char>(bytes[at + 1]) << 8));
    }
    const auto high = [](char16_t c) { return c >= 0xD800 && c <= 0xDBFF; };
    const auto low = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (high(units[i]) && i + 1 < units.size() && low(units[i + 1])) {
            ++i;
        } else if (high(units[i]) || low(units[i])) {
            return "it is not UTF-16 text: character " + std::to_string(i + 1) + " is half a pair";
        }
    }
    text = Utf8FromUtf16(units).value_or(std::string());
    return {};
}

// What expat's namespace-aware parser reports as a name ("uri\nlocal\nprefix",
// "uri\nlocal" or "local"): the local name, as an element is known by whatever
// prefix it has, or the name as written, as an attribute is asked for.
constexpr XML_Char kNameSeparator = '\n';

std::string LocalName(const XML_Char* reported) {
    const std::vector<std::string> parts = Split(reported, kNameSeparator);
    return parts.size() >= 2 ? parts[1] : parts[0];
}

std::string QualifiedName(const XML_Char* reported) {
    const std::vector<std::string> parts = Split(reported, kNameSeparator);
    if (parts.size() == 3) {
        return parts[2] + ":" + parts[1];
    }
    return parts.size() == 2 ? parts[1] : parts[0];
}

class TemplateParse {
public:
    TemplateParse(const std::string& root, std::initializer_list<Wanted> wanted,
                  TemplateReading& reading)
        : mRoot(root), mWanted(wanted), mReading(reading) {}

    // False when the text is no well-formed XML; the fault is told then.
    bool Run(const std::string& text) {
        XML_Parser parser = XML_ParserCreateNS("UTF-8", kNameSeparator);
        if (parser == nullptr) {
            mReading.faults.push_back("it cannot be read: out of memory");
            return false;
        }
        mParser = parser;
        // Behind the door neither can come; should one all the same, nothing of it is read.
        const bool closed = XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER) != 0;
        XML_SetReturnNSTriplet(parser, XML_TRUE);
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &TemplateParse::Start, &TemplateParse::End);
        XML_SetStartDoctypeDeclHandler(parser, &TemplateParse::Doctype);
        XML_SetEntityDeclHandler(parser, &TemplateParse::Entity);
        const bool parsed = closed && XML_Parse(parser, text.data(), static_cast<int>(text.size()),
                                                XML_TRUE) == XML_STATUS_OK;
        if (!closed) {
            mReading.faults.push_back("it cannot be read: the XML reader keeps entities open");
        } else if (!parsed && !mRefused) {
            mReading.faults.push_back("it is not well-formed XML (line " +
                                      std::to_string(XML_GetCurrentLineNumber(parser)) +
                                      ", column " +
                                      std::to_string(XML_GetCurrentColumnNumber(parser)) + ": " +
                                      XML_ErrorString(XML_GetErrorCode(parser)) + ")");
        }
        XML_ParserFree(parser);
        return parsed;
    }

private:
    static void Start(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<TemplateParse*>(self)->OnStart(name, attributes);
    }
    static void End(void* self, const XML_Char*) {
        static_cast<TemplateParse*>(self)->mPath.pop_back();
    }
    static void Doctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<TemplateParse*>(self)->Refuse(kDoctypeFault);
    }
    static void Entity(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                       const XML_Char*, const XML_Char*, const XML_Char*) {
        static_cast<TemplateParse*>(self)->Refuse(kEntityFault);
    }

    void Refuse(const std::string& why) {
        if (!mRefused) {
            mRefused = true;
            mReading.faults.push_back(why);
            XML_StopParser(mParser, XML_FALSE);
        }
    }

    void OnStart(const XML_Char* reported, const XML_Char** attributes) {
        const std::string name = LocalName(reported);
        if (mPath.empty() && name != mRoot) {
            mReading.faults.push_back("its top element is <" + name + ">, not <" + mRoot + ">");
        }
        mPath.push_back(name);
        const std::string here = Join(mPath, "/");
        for (const Wanted& want : mWanted) {
            if (here != want.path || mSeen.count(want.attribute) != 0) {
                continue;
            }
            for (const XML_Char** at = attributes; at[0] != nullptr; at += 2) {
                if (QualifiedName(at[0]) == want.attribute) {
                    mSeen.insert(want.attribute);
                    mReading.values.emplace_back(want.attribute, at[1]);
                    break;
                }
            }
        }
    }

    const std::string& mRoot;
    std::initializer_list<Wanted> mWanted;
    TemplateReading& mReading;
    std::vector<std::string> mPath;
    std::set<std::string> mSeen;
    XML_Parser mParser = nullptr;
    bool mRefused = false;
};

TemplateReading ReadTemplate(std::string_view bytes, const std::string& root,
                             std::initializer_list<Wanted> wanted) {
    TemplateReading reading;
    if (const std::string refused = TemplateDoorFault(bytes); !refused.empty()) {
        reading.faults.push_back(refused);
        return reading;
    }
    std::string text;
    if (const std::string notText = Utf16Text(bytes, text); !notText.empty()) {
        reading.faults.push_back(notText);
        return reading;
    }
    if (!TemplateParse(root, wanted, reading).Run(text)) {
        return reading;
    }
    for (const Wanted& want : wanted) {
        const std::string attribute = want.attribute;
        const std::optional<std::string> value = reading.Value(attribute);
        const std::string path = want.path;
        const std::string element = path.substr(path.rfind('/') + 1);
        if (!value) {
            reading.faults.push_back("it has no " + attribute + " in <" + element + ">");
        } else if (value->empty()) {
            reading.faults.push_back("its " + attribute + " is empty");
        } else if (Contains(*value, "{{") && Contains(*value, "}}")) {
            reading.faults.push_back("its " + attribute + " \"" + *value +
                                     "\" still holds a placeholder");
        }
    }
    return reading;
}

// ----- the package's files ---------------------------------------------------------

std::string Listed(const std::vector<std::string>& names) {
    std::vector<std::string> shown(names.begin(), names.begin() + std::min(names.size(), kListed));
    if (names.size() > kListed) {
        shown.push_back("and " + std::to_string(names.size() - kListed) + " more");
    }
    return Join(shown, ", ");
}

std::string Counted(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

// "" when the host can carry name in its 8-bit code page, else why not.
std::string NameFault(const Entry& entry) {
    if (!entry.name.starts_with(kEntryPrefix)) {
        return "its name does not start with .\\ as the host expects";
    }
    if (entry.name.size() == kEntryPrefix.size()) {
        return "its name is empty after .\\";
    }
    if (entry.utf8 && std::any_of(entry.rawName.begin(), entry.rawName.end(),
                                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        return "its name is marked as UTF-8; the host reads names in Windows-1252";
    }
    if (Contains(entry.name, "/")) {
        return "its name holds \"/\"; the host separates folders with \"\\\"";
    }
    for (const char byte : entry.rawName) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code == 0x7F ||
            DecodeAnsi(std::string_view(&byte, 1)).starts_with(kReplacement)) {
            static const char kDigits[] = "0123456789abcdef";
            return std::string("its name holds the byte 0x") + kDigits[code >> 4] +
                   kDigits[code & 0xF] + ", which Windows-1252 cannot carry";
        }
    }
    return {};
}

class Checker {
public:
    Checker(const std::vector<Entry>& entries, PackageCheckLevel level, PackageCheck& check)
        : mEntries(entries), mLevel(level), mCheck(check) {
        for (const Entry& entry : mEntries) {
            if (mCount[entry.name]++ == 0) {
                mNames.push_back(entry.name);
            }
        }
    }

    void Run() {
        std::optional<std::string> firstFrame = NeededFiles();
        if (mLevel != PackageCheckLevel::Whole) {
            return;
        }
        Names();
        Record();
        Frames(firstFrame);
    }

private:
    void Fault(const std::string& entry, const std::string& text) {
        mCheck.faults.push_back({entry, text});
    }

    bool Holds(const std::string& name) const { return mCount.count(name) != 0; }

    const Entry* Find(const std::string& name) const {
        for (const Entry& entry : mEntries) {
            if (entry.name == name) {
                return &entry;
            }
        }
        return nullptr;
    }

    // The data of a template entry that read back, or nothing (its fault is told already).
    std::optional<std::string> TemplateData(const std::string& name) const {
        const Entry* entry = Find(name);
        if (entry == nullptr || !entry->readBack) {
            return std::nullopt;
        }
        return entry->data;
    }

    // Returns the first frame's file name when the script names one.
    std::optional<std::string> NeededFiles() {
        if (mEntries.empty()) {
            Fault({}, "the archive holds no entries");
        }
        for (const std::string& needed : kNeededEntries) {
            if (!Holds(needed)) {
                Fault(needed, "it is missing");
            }
        }
        const std::optional<std::string> clt = TemplateData(kCltEntry);
        if (!clt) {
            return std::nullopt;
        }
        const TemplateReading script = ReadTemplateClt(*clt);
        for (const std::string& fault : script.faults) {
            Fault(kCltEntry, fault);
        }
        const std::optional<std::string> first = script.Value("AnimationImage");
        const bool path = first && (Contains(*first, "/") || Contains(*first, "\\"));
        if (!first || first->empty() || Contains(*first, "{{") || path) {
            if (path) {
                Fault(kCltEntry, "its AnimationImage \"" + *first + "\" is not a file name");
            }
            return std::nullopt;
        }
        if (!Holds(kEntryPrefix + *first)) {
            Fault(kEntryPrefix + *first, "it is missing: it is the first frame the script names");
        }
        if (mLevel == PackageCheckLevel::Whole) {
            mDuration = script.Value("AnimationDuration");
        }
        return first;
    }

    void Names() {
        std::vector<std::string> folderEntries;
        std::vector<std::string> inSubfolders;
        for (const Entry& entry : mEntries) {
            if (const std::string fault = NameFault(entry); !fault.empty()) {
                Fault(entry.name, fault);
                mBadNames.insert(entry.name);
                continue;
            }
            const std::string relative = entry.name.substr(kEntryPrefix.size());
            if (relative.ends_with('\\')) {
                folderEntries.push_back(entry.name);
            } else if (Contains(relative, "\\")) {
                inSubfolders.push_back(entry.name);
            }
        }
        for (const std::string& name : mNames) {
            if (const int count = mCount.at(name); count > 1) {
                Fault(name, "it is in the archive " + std::to_string(count) + " times");
            }
        }
        if (!folderEntries.empty()) {
            mCheck.notes.push_back("folder entries, which the host skips: " +
                                   Listed(folderEntries));
        }
        if (!inSubfolders.empty()) {
            mCheck.notes.push_back(
                Counted(inSubfolders.size(), "file in a subfolder", "files in subfolders") +
                ", which the particle does not use: " + Listed(inSubfolders));
        }
    }

    void Record() {
        const std::optional<std::string> xml = TemplateData(kXmlEntry);
        if (!xml) {
            return;
        }
        for (const std::string& fault : ReadTemplateXml(*xml).faults) {
            Fault(kXmlEntry, fault);
        }
    }

    void Frames(const std::optional<std::string>& firstFrame) {
        std::vector<std::string> topLevel;
        for (const Entry& entry : mEntries) {
            if (entry.name.starts_with(kEntryPrefix) &&
                !Contains(std::string_view(entry.name).substr(kEntryPrefix.size()), "\\")) {
                topLevel.push_back(entry.name.substr(kEntryPrefix.size()));
            }
        }
        FrameSequence frames;
        if (firstFrame) {
            frames = FramesFrom(*firstFrame, topLevel);
            if (!frames.numbered) {
                mCheck.notes.push_back("the first frame " + kEntryPrefix + *firstFrame +
                                       " is not named NAME_NNNNN.jpg, so its frames and "
                                       "duration were not checked");
            }
        }
        if (frames.numbered) {
            const std::string firstEntry = kEntryPrefix + FrameName(frames.prefix, frames.first);
            const std::string lastEntry = kEntryPrefix + FrameName(frames.prefix, frames.last);
            for (const int32_t number : frames.missing) {
                if (number == frames.first) {
                    continue;  // told as the missing first frame already
                }
                Fault(kEntryPrefix + FrameName(frames.prefix, number),
                      "it is missing: the frames run from " + firstEntry + " to " + lastEntry);
            }
            const auto listed = static_cast<int32_t>(frames.missing.size());
            if (frames.missingCount > listed) {
                Fault({}, std::to_string(frames.missingCount - listed) +
                              " more frames are missing between " + firstEntry + " and " +
                              lastEntry);
            }
            if (frames.earlier > 0) {
                mCheck.notes.push_back(
                    Counted(static_cast<std::size_t>(frames.earlier), "frame", "frames") +
                    " numbered before the first frame " + kEntryPrefix + *firstFrame +
                    ", not part of the animation");
            }
            Duration(frames);
        }

        std::vector<std::string> extra;
        for (const std::string& name : topLevel) {
            const std::string entry = kEntryPrefix + name;
            const bool isFrame = frames.numbered && FrameNumberOf(name, frames.prefix) >= 0;
            if (!Contains(kNeededEntries, entry) && !isFrame && name != firstFrame &&
                mBadNames.count(entry) == 0) {
                extra.push_back(entry);
            }
        }
        if (!extra.empty()) {
            mCheck.notes.push_back(Counted(extra.size(), "extra file", "extra files") +
                                   ", which the particle does not use: " + Listed(extra));
        }
    }

    void Duration(const FrameSequence& frames) {
        if (!mDuration) {
            return;  // its absence is a fault of the script already
        }
        const bool digits =
            !mDuration->empty() && std::all_of(mDuration->begin(), mDuration->end(),
                                               [](char c) { return c >= '0' && c <= '9'; });
        const std::optional<int64_t> value = digits ? ParseInteger(*mDuration) : std::nullopt;
        if (!value || *value > std::numeric_limits<int32_t>::max()) {
            Fault(kCltEntry,
                  "its AnimationDuration \"" + *mDuration + "\" is not a number of milliseconds");
            return;
        }
        const auto duration = static_cast<int32_t>(*value);
        const int32_t expected = AnimationDurationFor(frames.count);
        if (duration != expected) {
            Fault(kCltEntry, "its AnimationDuration is " + std::to_string(duration) +
                                 " ms, but the " + std::to_string(frames.count) + " frames from " +
                                 kEntryPrefix + FrameName(frames.prefix, frames.first) +
                                 " on last " + std::to_string(expected) + " ms");
        }
    }

    const std::vector<Entry>& mEntries;
    PackageCheckLevel mLevel;
    PackageCheck& mCheck;
    std::map<std::string, int> mCount;
    std::vector<std::string> mNames;  // each name once, in the archive's order
    std::set<std::string> mBadNames;  // told as faults, so not listed as extra files
    std::optional<std::string> mDuration;
};

}  // namespace

std::string FaultLine(const PackageFault& fault) {
    return fault.entry.empty() ? fault.text : fault.entry + ": " + fault.text;
}

std::vector<std::string> PackageCheck::FaultLines() const {
    std::vector<std::string> lines;
    for (const PackageFault& fault : faults) {
        lines.push_back(FaultLine(fault));
    }
    return lines;
}

std::optional<std::string> TemplateReading::Value(const std::string& attribute) const {
    for (const auto& [name, value] : values) {
        if (name == attribute) {
            return value;
        }
    }
    return std::nullopt;
}

TemplateReading ReadTemplateClt(std::string_view bytes) {
    const char* particle = "CTemplate/LayerList/MetaLayer/Emitter/Particle/ParticleAttribExt";
    return ReadTemplate(bytes, "CTemplate",
                        {{"CTemplate/Header/Extension", "ReferencePath"},
                         {particle, "AnimationImage"},
                         {particle, "AnimationDuration"}});
}

TemplateReading ReadTemplateXml(std::string_view bytes) {
    const char* record = "TEMPLATE_MGR/TEMPLATE_LIST/TEMPLATE";
    return ReadTemplate(bytes, "TEMPLATE_MGR",
                        {{record, "TYPE"}, {record, "CATEGORY"}, {record, "ALIAS"}});
}

PackageCheck CheckPackage(const std::string& path, PackageCheckLevel level,
                          const std::function<void()>& pulse) {
    PackageCheck check;
    std::vector<Entry> entries;
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

PackageCheck ReadBackPackage(const std::string& path, bool canceled,
                             const std::function<void()>& pulse) {
    return CheckPackage(
        path, canceled ? PackageCheckLevel::Archive : PackageCheckLevel::NeededFiles, pulse);
}

std::string ReadBackFailureText(const std::string& path, const PackageCheck& check) {
    std::vector<std::string> lines = check.FaultLines();
    if (lines.size() > kListed) {
        const std::size_t more = lines.size() - kListed;
        lines.resize(kListed);
        lines.push_back("(and " + std::to_string(more) + " more)");
    }
    return "The package " + Shown(path) + " was written but does not read back whole:\r\n" +
           Join(lines, "\r\n");
}

}  // namespace sparkloom
