#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "extract/Extraction.h"

namespace sparkloom {
class Zipper;
}

namespace sparkloom::cli {

class TerminalProgress;

// kExitDoesNotFit: --estimate found more than one package holds.
enum ExitStatus : int { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2, kExitDoesNotFit = 3 };

// Set by the program's stop signals; long steps poll it.
using StopCheck = std::function<bool()>;

// One conversion as the user asked for it on the command line. Unset optional
// values take the defaults the window's road would give them.
struct ConvertOptions {
    std::string video;
    std::string package;                  // as typed; ".dzp" is added by the window's rule
    std::optional<std::string> name;      // default: from the video's file name
    std::optional<std::string> type;      // no default: a missing one fails the type check
    std::optional<std::string> category;  // no default either
    std::optional<std::string> thumb;     // default: the first frame
    std::optional<std::string> first;     // default: PREFIX_00001.jpg
    std::string framesDir;                // default: beside the package, "<base>_frames"
    bool force = false;                   // replace the package, reuse a filled frames folder,
                                          // pack without left-out entries
    bool timings = false;                 // print how long each step took
    FrameOptions frameOptions;            // rate, quality, part and size of the frames
};

// The types the host editor knows.
bool IsKnownType(const std::string& type);

// Everything the checks settled; paths absolute and without a trailing "/".
struct Plan {
    std::string video;
    std::string projectFolder;  // the video's folder
    std::string particleName;
    std::string framePrefix;
    std::string type;
    std::string category;
    std::string firstFrame;   // file name only, as the window stores it
    std::string thumbSource;  // picture copied to Thumb.jpg and Thumb.png
    std::string framesFolder;
    std::string packagePath;  // after the ".dzp" rule
    std::string packageFolder;
};

// Checks the options in the window's order and fills plan; touches no file.
// On a failed check returns false with the text to show in error.
bool MakePlan(const ConvertOptions& options, Plan& plan, std::string& error);

struct PackOutcome {
    bool ok = false;
    bool stopped = false;  // a stop was asked for; the cut archive is removed
    std::string error;     // for the user, when !ok and !stopped
    int leftOut = 0;       // entries the walk did not take (only with allowLeftOut)
    int64_t ticks = 0;     // the zipper's ticks, and the time spent inside them
    int64_t tickWorkNs = 0;
};

// Drives a filled zipper to the end of its archive: a tick every tickInterval
// milliseconds (0: one after the other) while it zips. stop, and a stop signal,
// are polled between ticks and cancel the run. A failed or stopped run removes
// the archive: a package left on disk is a finished one. onOpened runs once the
// archive is open.
PackOutcome DriveZipper(Zipper& zipper, const std::string& packagePath, int tickInterval,
                        const std::function<void(int64_t done, int64_t total)>& onProgress,
                        const StopCheck& stop, const std::function<void()>& onOpened = {});

// The packing half of a build: walks folder into a Zipper and drives it with
// the given tick interval until it completes. Entries left out by the walk's
// per-folder limit refuse the build unless allowLeftOut. onProgress gets the
// bytes packed so far and the total.
PackOutcome PackFolder(const std::string& folder, const std::string& packagePath, int tickInterval,
                       bool allowLeftOut,
                       const std::function<void(int64_t done, int64_t total)>& onProgress = {});

// The whole road: checks, count, extraction, thumbnail copies, templates, the
// overwrite check, walk and packing. Returns the process exit status; a stop
// signal ends it with the shell's status for that signal (130, 143).
// failure, when given, receives the text of a failure as it was shown.
int Convert(const ConvertOptions& options, TerminalProgress& progress,
            std::string* failure = nullptr);

// Several clips in one run: each clip's package is folder/<clip's base name>.dzp,
// its frames folder beside it and its name from its file name.
std::string BatchPackagePath(const std::string& folder, const std::string& video);
// Why these clips cannot go into one folder together; "" when they can.
std::string BatchRefusal(const std::vector<std::string>& videos, const std::string& folder);
// Converts every clip with options (video and package are set per clip); a
// failed clip does not stop the others, a stop signal stops the run. Ends with
// a line per clip. Exit status 0 when all succeeded, 1 when any failed.
int ConvertMany(const ConvertOptions& options, const std::vector<std::string>& videos,
                const std::string& folder, TerminalProgress& progress);

}  // namespace sparkloom::cli
