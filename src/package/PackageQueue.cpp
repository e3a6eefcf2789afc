#include "package/PackageQueue.h"

#include <algorithm>

#include "common/Files.h"
#include "common/FrameSequence.h"
#include "common/Text.h"
#include "extract/Extraction.h"
#include "package/FolderWalk.h"
#include "package/Templates.h"
#include "zip/Zipper.h"

namespace sparkloom {

namespace {

// Frames of this extraction the host plays among the queued names: numbered
// from the first frame's number to extracted. Those before a later first
// frame are packed but never played, so they take no part in the duration.
int32_t FramesAmong(const std::vector<std::string>& names, const std::string& framePrefix,
                    const std::string& firstFrame, int32_t extracted) {
    const int32_t first = std::max(1, FrameNumberOf(firstFrame, framePrefix));
    int32_t frames = 0;
    for (const std::string& name : names) {
        const int32_t number = FrameNumberOf(name, framePrefix);
        if (number >= first && number <= extracted) {
            ++frames;
        }
    }
    return frames;
}

}  // namespace

std::vector<std::string> PackageOwnFiles() {
    return {"Thumb.jpg", "Thumb.png", "TitleTemplate.clt", "TitleTemplate.xml"};
}

QueueOutcome QueuePackage(Zipper& zipper, const PackageSource& source,
                          const std::function<bool(int leftOut)>& confirmLeftOut) {
    QueueOutcome outcome;
    const auto walk = [&](WalkReport& report) {
        if (!AddFolderToZip(zipper, source.folder + '/', std::string(), source.maxFiles, report)) {
            zipper.ClearFiles();
            outcome.statusMessage = report.statusMessage;
            return false;
        }
        return true;
    };
    WalkReport report;
    if (!walk(report)) {
        return outcome;
    }

    std::vector<std::string> needed = PackageOwnFiles();
    if (!source.firstFrame.empty()) {
        needed.push_back(source.firstFrame);
    }
    std::vector<std::string> lacking;
    for (const std::string& name : needed) {
        if (std::find(report.topLevelFiles.begin(), report.topLevelFiles.end(), name) ==
            report.topLevelFiles.end()) {
            lacking.push_back(name);
        }
    }
    if (!lacking.empty()) {
        zipper.ClearFiles();
        const bool leftOut = report.leftOut > 0;
        outcome.refusal =
            "The package would lack " + Join(lacking, ", ") + ", which the host editor needs:\r\n" +
            (leftOut ? "the frames folder holds more than " + std::to_string(source.maxFiles) +
                           " entries. Remove other files from " + Shown(source.folder) +
                           ", or extract fewer frames, and build again."
                     : "it is not in the frames folder " + Shown(source.folder) + ".");
        return outcome;
    }
    outcome.leftOut = report.leftOut;
    if (report.leftOut > 0 && !(confirmLeftOut && confirmLeftOut(report.leftOut))) {
        zipper.ClearFiles();
        outcome.declined = true;
        return outcome;
    }

    outcome.packedFrames =
        FramesAmong(report.topLevelFiles, source.framePrefix, source.firstFrame,
                    source.extractedFrames);
    if (outcome.packedFrames < source.extractedFrames) {
        // The duration written before the walk counted frames the walk left
        // out or the host skips; the queue holds the script's old size, so walk
        // again after rewriting it.
        zipper.ClearFiles();
        const TemplateWrite clt = WriteTemplateClt(source.folder, source.firstFrame,
                                                   AnimationDurationFor(outcome.packedFrames));
        if (!clt.ok) {
            outcome.refusal = clt.error;
            return outcome;
        }
        WalkReport again;
        if (!walk(again)) {
            return outcome;
        }
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace sparkloom
