#include "package/PackageQueue.h"

#include <QDir>
#include <QFileInfo>

#include "common/Files.h"
#include "extract/Extraction.h"
#include "package/FolderWalk.h"
#include "package/FrameSequence.h"
#include "package/Templates.h"
#include "zip/Zipper.h"

namespace sparkloom {

namespace {

// Frames of this extraction among the queued names: numbered 1 to extracted.
int32_t FramesAmong(const QStringList& names, const QString& framePrefix, int32_t extracted) {
    int32_t frames = 0;
    for (const QString& name : names) {
        const int32_t number = FrameNumberOf(name, framePrefix);
        if (number >= 1 && number <= extracted) {
            ++frames;
        }
    }
    return frames;
}

}  // namespace

QStringList PackageOwnFiles() {
    return {QStringLiteral("Thumb.jpg"), QStringLiteral("Thumb.png"),
            QStringLiteral("TitleTemplate.clt"), QStringLiteral("TitleTemplate.xml")};
}

QueueOutcome QueuePackage(Zipper& zipper, const PackageSource& source,
                          const std::function<bool(int leftOut)>& confirmLeftOut) {
    QueueOutcome outcome;
    const auto walk = [&](WalkReport& report) {
        if (!AddFolderToZip(zipper, source.folder + u'/', QString(), source.maxFiles, report)) {
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

    QStringList needed = PackageOwnFiles();
    if (!source.firstFrame.isEmpty()) {
        needed << source.firstFrame;
    }
    QStringList lacking;
    for (const QString& name : needed) {
        if (!report.topLevelFiles.contains(name)) {
            lacking << name;
        }
    }
    if (!lacking.isEmpty()) {
        zipper.ClearFiles();
        const bool leftOut = report.leftOut > 0;
        outcome.refusal =
            QStringLiteral("The package would lack %1, which the host editor needs:\r\n%2")
                .arg(lacking.join(QStringLiteral(", ")),
                     leftOut ? QStringLiteral("the frames folder holds more than %1 entries. "
                                              "Remove other files from %2, or extract fewer "
                                              "frames, and build again.")
                                   .arg(source.maxFiles)
                                   .arg(Shown(source.folder))
                             : QStringLiteral("it is not in the frames folder %1.")
                                   .arg(Shown(source.folder)));
        return outcome;
    }
    outcome.leftOut = report.leftOut;
    if (report.leftOut > 0 && !(confirmLeftOut && confirmLeftOut(report.leftOut))) {
        zipper.ClearFiles();
        outcome.declined = true;
        return outcome;
    }

    outcome.packedFrames =
        FramesAmong(report.topLevelFiles, source.framePrefix, source.extractedFrames);
    if (outcome.packedFrames < source.extractedFrames) {
        // The duration written before the walk counted frames it left out; the
        // queue holds the script's old size, so walk again after rewriting it.
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
