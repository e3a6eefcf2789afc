#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sparkloom {

class Zipper;

// The files without which the host cannot use a package, beside its frames.
std::vector<std::string> PackageOwnFiles();

// What the package is made of: the frames folder with its templates written,
// the first frame the script names, and the frames the extraction wrote.
struct PackageSource {
    std::string folder;       // no trailing separator
    std::string firstFrame;   // file name, as the script names it
    std::string framePrefix;  // the frames are framePrefix_#####.jpg
    int32_t extractedFrames = 0;
    int32_t maxFiles = 2000;
};

struct QueueOutcome {
    bool ok = false;
    bool declined = false;      // the user would not leave entries out
    std::string refusal;        // for a message box: the package would lack its own files
    std::string statusMessage;  // the walk's own failure, for the status line
    int leftOut = 0;            // entries the per-folder limit left out (accepted)
    int32_t packedFrames = 0;
};

// Walks the folder into zipper. A walk that would leave out a template, a
// thumbnail or the first frame is refused, and nothing stays queued. Other
// entries left out by the per-folder limit are packed without only when
// confirmLeftOut agrees; frames among them shorten the script's duration, which
// is written again for the frames that are packed.
QueueOutcome QueuePackage(Zipper& zipper, const PackageSource& source,
                          const std::function<bool(int leftOut)>& confirmLeftOut);

}  // namespace sparkloom
