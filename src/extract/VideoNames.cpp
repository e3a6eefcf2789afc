#include "extract/VideoNames.h"

#include "common/Files.h"
#include "common/Text.h"
#include "zip/AnsiText.h"

namespace sparkloom {

std::string ProjectFolderOf(const std::string& fullPath, const std::string& fileName) {
    if (fileName.empty()) {
        return fullPath;
    }
    std::string folder = fullPath;
    for (const char separator : kPathSeparators) {
        folder = ReplaceAll(folder, std::string(1, separator) + fileName, "");
    }
    return folder;
}

std::optional<std::string> ParticleNameFromFile(const std::string& fileName) {
    // The rule counts UTF-16 code units, as the host editor's names do; a byte that
    // is no UTF-8 counts as one, as its replacement character would.
    struct Piece {
        std::size_t bytes;
        std::size_t units;
    };
    std::vector<Piece> pieces;
    std::size_t units = 0;
    for (std::size_t at = 0; at < fileName.size();) {
        const auto lead = static_cast<unsigned char>(fileName[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        Piece piece{1, 1};
        if (IsUtf8(std::string_view(fileName).substr(at, length))) {
            piece = {length, length == 4 ? 2u : 1u};
        }
        pieces.push_back(piece);
        units += piece.units;
        at += piece.bytes;
    }
    if (units < 4) {
        return std::nullopt;
    }
    // A character outside the BMP is two code units; half of one is no letter
    // and could never name a frame file, so a cut through one drops it whole.
    const std::size_t keep = units - 4;
    std::size_t keptUnits = 0;
    std::size_t keptBytes = 0;
    for (const Piece& piece : pieces) {
        if (keptUnits + piece.units > keep) {
            break;
        }
        keptUnits += piece.units;
        keptBytes += piece.bytes;
    }
    return fileName.substr(0, keptBytes);
}

std::string FramePrefixOf(const std::string& particleName) {
    return ReplaceAll(particleName, " ", "_");
}

std::string FramePattern(const std::string& framePrefix) {
    // ffmpeg reads "%" as the start of a number field; "%%" is a literal one.
    return ReplaceAll(framePrefix, "%", "%%") + "_%05d.jpg";
}

std::string FramePrefixRefusal(const std::string& framePrefix) {
    if (framePrefix.find('/') != std::string::npos || framePrefix.find('\0') != std::string::npos) {
        return "The particle name names the frame files and cannot contain \"/\".";
    }
    if (framePrefix.starts_with('.')) {
        return "The particle name names the frame files and cannot start with \".\": such frames "
               "would be hidden files, which no package takes.";
    }
    if (framePrefix.size() + 10 > 255) {  // + "_00001.jpg", in the bytes of the file name
        return "The particle name is too long to name the frame files.";
    }
    if (!EncodeAnsi(framePrefix)) {
        return "The particle name names the frame files and can only hold "
               "Western European letters:\r\n" +
               framePrefix;
    }
    return {};
}

}  // namespace sparkloom
