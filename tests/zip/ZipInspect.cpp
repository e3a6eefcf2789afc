#include "zip/ZipInspect.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <sstream>

#include "common/Text.h"
#include "support/CoreTest.h"

namespace sparkloom::test {

namespace {

std::string FromHex(std::string_view hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

ToolOptions Minute() {
    ToolOptions options;
    options.timeoutMs = 60000;
    return options;
}

// The script's byte strings come as "x" and hex.
std::string Unhexed(const std::string& field) {
    return field.empty() ? std::string() : FromHex(std::string_view(field).substr(1));
}

// SHA-256 (FIPS 180-4), enough for comparing test data.
class Sha256 {
public:
    void Add(std::string_view data) {
        for (const char c : data) {
            mBlock[mFill++] = static_cast<uint8_t>(c);
            if (mFill == 64) {
                Compress();
                mFill = 0;
            }
        }
        mLength += data.size();
    }
    std::string HexDigest() {
        const uint64_t bits = mLength * 8;
        Add(std::string_view("\x80", 1));
        while (mFill != 56) {
            Add(std::string_view("\0", 1));
        }
        std::string tail(8, '\0');
        for (int i = 0; i < 8; ++i) {
            tail[static_cast<size_t>(i)] = static_cast<char>(bits >> (56 - 8 * i));
        }
        Add(tail);
        static const char* digits = "0123456789abcdef";
        std::string hex;
        for (const uint32_t word : mState) {
            for (int shift = 28; shift >= 0; shift -= 4) {
                hex += digits[(word >> shift) & 0xF];
            }
        }
        return hex;
    }

private:
    static uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void Compress() {
        static constexpr std::array<uint32_t, 64> k = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
            0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
            0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
            0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
            0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
            0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
            0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
            0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
            0xc67178f2};
        std::array<uint32_t, 64> w{};
        for (size_t i = 0; i < 16; ++i) {
            w[i] = uint32_t{mBlock[4 * i]} << 24 | uint32_t{mBlock[4 * i + 1]} << 16 |
                   uint32_t{mBlock[4 * i + 2]} << 8 | uint32_t{mBlock[4 * i + 3]};
        }
        for (size_t i = 16; i < 64; ++i) {
            const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::array<uint32_t, 8> v = mState;
        for (size_t i = 0; i < 64; ++i) {
            const uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
            const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
            const uint32_t t1 = v[7] + s1 + ch + k[i] + w[i];
            const uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
            const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            v = {t1 + s0 + maj, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
        }
        for (size_t i = 0; i < 8; ++i) {
            mState[i] += v[i];
        }
    }

    std::array<uint32_t, 8> mState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<uint8_t, 64> mBlock{};
    size_t mFill = 0;
    uint64_t mLength = 0;
};

}  // namespace

std::vector<std::string> ReadArchive::names() const {
    std::vector<std::string> result;
    for (const ReadEntry& entry : entries) {
        result.push_back(entry.name);
    }
    return result;
}

struct ReadArchive ReadWithPython(const std::string& archive) {
    const ToolRun python = RunTool("python3", {ZIP_INSPECT_SCRIPT, archive}, Minute());
    struct ReadArchive result;
    if (python.exitCode != 0) {
        result.error = "python3 failed: " + python.err;
        return result;
    }
    result.error = "no answer from the reader";
    std::istringstream lines(python.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "error") {
            std::string error;
            fields >> error;
            result.error = Unhexed(error);
            continue;
        }
        if (kind != "entry") {
            continue;
        }
        ReadEntry entry;
        std::string name;
        std::string comment;
        fields >> name >> entry.method;
        entry.time.resize(6);
        for (int& part : entry.time) {
            fields >> part;
        }
        fields >> entry.external >> entry.system >> entry.flags >> entry.size >> entry.sha256 >>
            comment >> entry.crc >> entry.rawSha256;
        if (!fields) {
            result.error = "unreadable line from the reader: " + line;
            return result;
        }
        entry.name = Unhexed(name);
        entry.comment = Unhexed(comment);
        result.entries.push_back(std::move(entry));
    }
    return result;
}

bool UnzipTestsOk(const std::string& archive, std::string* output) {
    const ToolRun unzip = RunTool("unzip", {"-t", archive}, Minute());
    if (output != nullptr) {
        *output = unzip.out + unzip.err;
    }
    return unzip.exitCode == 0;
}

std::string Sha256Hex(std::string_view data) {
    Sha256 hash;
    hash.Add(data);
    return hash.HexDigest();
}

std::string FileSha256Hex(const std::string& path, int64_t limit) {
    std::ifstream file(PathFromUtf8(path), std::ios::binary);
    if (!file) {
        return {};
    }
    Sha256 hash;
    std::string block(1 << 20, '\0');
    int64_t left = limit < 0 ? std::numeric_limits<int64_t>::max() : limit;
    while (left > 0) {
        file.read(block.data(), static_cast<std::streamsize>(
                                    std::min<int64_t>(left, static_cast<int64_t>(block.size()))));
        const std::streamsize got = file.gcount();
        if (got <= 0) {
            if (file.bad() || limit >= 0) {
                return {};  // unreadable, or shorter than the limit
            }
            break;
        }
        hash.Add(std::string_view(block.data(), static_cast<size_t>(got)));
        left -= got;
    }
    return hash.HexDigest();
}

bool WriteFile(const std::string& path, int64_t size, char seed) {
    std::ofstream file(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!file) {
        return false;
    }
    std::string block(1 << 16, '\0');
    uint32_t state = static_cast<unsigned char>(seed) * 2654435761u + 1;
    for (int64_t done = 0; done < size; done += static_cast<int64_t>(block.size())) {
        for (char& c : block) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>((state >> 16) % 48 + 'A');  // compressible but not trivial
        }
        const int64_t n = std::min<int64_t>(static_cast<int64_t>(block.size()), size - done);
        file.write(block.data(), static_cast<std::streamsize>(n));
    }
    file.close();
    return file.good();
}

}  // namespace sparkloom::test
