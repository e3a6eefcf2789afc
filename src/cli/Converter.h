#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace sparkloom {
class Zipper;
}

namespace sparkloom::cli {

class TerminalProgress;

enum ExitStatus : int { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2 };

// Set by the program's stop signals; long steps poll it.
using StopCheck = std::function<bool()>;

// One conversion as the user asked for it on the command line. Unset optional
// values take the defaults the window's road would give them.
struct ConvertOptions {
    QString video;
    QString package;                  // as typed; ".dzp" is added by the window's rule
    std::optional<QString> name;      // default: from the video's file name
    std::optional<QString> type;      // no default: a missing one fails the type check
    std::optional<QString> category;  // no default either
    std::optional<QString> thumb;     // default: the first frame
    std::optional<QString> first;     // default: PREFIX_00001.jpg
    QString framesDir;                // default: beside the package, "<base>_frames"
    bool force = false;               // replace the package, reuse a filled frames folder,
                                      // pack without left-out entries
    bool timings = false;             // print how long each step took
};

// The types the host editor knows.
bool IsKnownType(const QString& type);

// Everything the checks settled; paths absolute and without a trailing "/".
struct Plan {
    QString video;
    QString projectFolder;  // the video's folder
    QString particleName;
    QString framePrefix;
    QString type;
    QString category;
    QString firstFrame;   // file name only, as the window stores it
    QString thumbSource;  // picture copied to Thumb.jpg and Thumb.png
    QString framesFolder;
    QString packagePath;  // after the ".dzp" rule
    QString packageFolder;
};

// Checks the options in the window's order and fills plan; touches no file.
// On a failed check returns false with the text to show in error.
bool MakePlan(const ConvertOptions& options, Plan& plan, QString& error);

struct PackOutcome {
    bool ok = false;
    bool stopped = false;  // a stop was asked for; the cut archive is removed
    QString error;         // for the user, when !ok and !stopped
    int leftOut = 0;       // entries the walk did not take (only with allowLeftOut)
};

// Drives a filled zipper to the end of its archive at the given tick interval.
// A failed or stopped run removes the archive: a package left on disk is a
// finished one.
PackOutcome DriveZipper(Zipper& zipper, const QString& packagePath, int tickInterval,
                        const std::function<void(int64_t done, int64_t total)>& onProgress,
                        const StopCheck& stop);

// The packing half of a build: walks folder into a Zipper and drives it with
// the given tick interval until it completes. Entries left out by the walk's
// per-folder limit refuse the build unless allowLeftOut. onProgress gets the
// bytes packed so far and the total.
PackOutcome PackFolder(const QString& folder, const QString& packagePath, int tickInterval,
                       bool allowLeftOut,
                       const std::function<void(int64_t done, int64_t total)>& onProgress = {});

// The whole road: checks, count, extraction, thumbnail copies, templates, the
// overwrite check, walk and packing. Returns the process exit status; a stop
// signal ends it with the shell's status for that signal (130, 143).
int Convert(const ConvertOptions& options, TerminalProgress& progress);

}  // namespace sparkloom::cli
