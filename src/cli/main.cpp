// sparkloom-cli: the window's conversion from video to particle package,
// without the window, for scripts and batches of clips.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CheckCommand.h"
#include "cli/Converter.h"
#include "cli/EstimateCommand.h"
#include "cli/TerminalProgress.h"
#include "common/Text.h"
#include "extract/FrameOptionTexts.h"
#include "platform/Allocator.h"
#include "platform/Locale.h"
#include "platform/StopSignals.h"
#include "platform/Terminal.h"
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <cstdlib>

#include "platform/WideText_win.h"
#endif

using namespace sparkloom::cli;

namespace {

const char* const kDescription =
    "Turns a video clip into a particle package (.dzp) for the host editor: counts and\n"
    "extracts the frames with ffmpeg, copies the thumbnail, writes the templates and\n"
    "packs the frames folder, the same steps as the Sparkloom window. Every package is\n"
    "read back before it is reported as made.\n"
    "With --check, reads packages and reports per package \"OK\" or its faults.\n"
    "With --estimate, prints what the frame options give of one clip and extracts nothing.\n"
    "Exit status: 0 success (every package whole), 1 failure (a fault), 2 usage error,\n"
    "3 (--estimate) the frames do not fit one package.";

int UsageError(const std::string& text) {
    const std::string bytes =
        "sparkloom-cli: " + text + "\nTry 'sparkloom-cli --help' for more information.\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    return kExitUsage;
}

void PrintOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// A flag takes no value of its own.
bool IsFlag(const CLI::Option& option) {
    return option.get_expected_max() == 0;
}

// "-o, --output <PACKAGE>": every name of the option, and its value's name.
std::string NamesOf(const CLI::Option& option) {
    std::vector<std::string> names;
    for (const std::string& name : option.get_snames()) {
        names.push_back('-' + name);
    }
    for (const std::string& name : option.get_lnames()) {
        names.push_back("--" + name);
    }
    std::string text = sparkloom::Join(names, ", ");
    if (!IsFlag(option)) {
        text += " <" + option.get_type_name() + '>';
    }
    return text;
}

// The help as the converter has always printed it: names in one column, each
// description wrapped to 79 columns beside them.
class HelpLayout : public CLI::Formatter {
public:
    explicit HelpLayout(std::string program) : mProgram(std::move(program)) {}

    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        const auto options =
            app->get_options([](const CLI::Option* o) { return o->nonpositional(); });
        const auto arguments =
            app->get_options([](const CLI::Option* o) { return o->get_positional(); });
        std::size_t width = 0;
        for (const CLI::Option* option : options) {
            width = std::max(width, NamesOf(*option).size());
        }
        ++width;
        for (const CLI::Option* argument : arguments) {
            width = std::max(width, argument->get_name().size());
        }
        std::string text = "Usage: " + mProgram + " [options] VIDEO...\n" + app->get_description() +
                           "\n\nOptions:\n";
        for (const CLI::Option* option : options) {
            text += Entry(NamesOf(*option), width, option->get_description());
        }
        text += "\nArguments:\n";
        for (const CLI::Option* argument : arguments) {
            text += Entry(argument->get_name(), width, argument->get_description());
        }
        return text;
    }

private:
    // "  NAMES  description", the description wrapped beside the names as
    // QCommandLineParser wrapped it, so the help reads as it always did.
    static std::string Entry(const std::string& names, std::size_t width,
                             const std::string& description) {
        const auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
        constexpr std::size_t kNone = std::string::npos;
        const std::size_t max = 79 - (2 + width + 1);
        std::string text;
        std::size_t nameIndex = 0;
        const auto nextNameSection = [&] {
            std::string section = names.substr(std::min(nameIndex, names.size()), width);
            nameIndex += section.size();
            section.resize(width, ' ');
            return section;
        };
        std::size_t lineStart = 0;
        std::size_t lastBreakable = kNone;
        std::size_t x = 0;
        const std::size_t length = description.size();
        for (std::size_t i = 0; i < length; ++i) {
            ++x;
            const char c = description[i];
            if (isSpace(c)) {
                lastBreakable = i;
            }
            std::size_t breakAt = kNone;
            std::size_t nextLineStart = 0;
            if (x > max && lastBreakable != kNone) {
                breakAt = lastBreakable;
                nextLineStart = lastBreakable + 1;
            } else if ((x > max - 1 && lastBreakable == kNone) || i == length - 1) {
                breakAt = i + 1;
                nextLineStart = i + 1;
            } else if (c == '\n') {
                breakAt = i;
                nextLineStart = i + 1;
            }
            if (breakAt != kNone) {
                text += "  " + nextNameSection() + ' ' +
                        description.substr(lineStart, breakAt - lineStart) + '\n';
                x = 0;
                lastBreakable = kNone;
                lineStart = nextLineStart;
                if (lineStart < length && isSpace(description[lineStart])) {
                    ++lineStart;  // no line starts with a blank
                }
                i = lineStart;
            }
        }
        while (nameIndex < names.size()) {
            text += "  " + nextNameSection() + '\n';
        }
        return text;
    }

    std::string mProgram;
};

// The name an unknown option was typed with, as the user reads it: "colour" of "--colour=red".
std::string OptionNameOf(const std::string& argument) {
    const std::size_t start = argument.find_first_not_of('-');
    if (start == std::string::npos) {
        return argument;
    }
    return argument.substr(start, argument.find('=') == std::string::npos
                                      ? std::string::npos
                                      : argument.find('=') - start);
}

// The argument that named option, as typed; the option's own name when none is found.
std::string TypedName(const CLI::Option& option, const std::vector<std::string>& arguments,
                      bool withValue) {
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) {
        const std::string name = it->substr(0, it->find('='));
        if (withValue && name == *it) {
            continue;
        }
        if (name.starts_with("--")
                ? option.check_lname(name.substr(2))
                : name.size() == 2 && name[0] == '-' && option.check_sname(name.substr(1))) {
            return name;
        }
    }
    return option.get_name();
}

// A value CLI11 could not take, in the words the converter has always used.
// CLI11 names the option first: "--output: 1 required PACKAGE missing", "force
// was given a disallowed flag override".
std::string MismatchText(const CLI::App& app, const CLI::ArgumentMismatch& mismatch,
                         const std::vector<std::string>& arguments) {
    const std::string what = mismatch.what();
    const auto names = [&what](const std::string& name) {
        return what.starts_with(name) && what.size() > name.size() &&
               (what[name.size()] == ':' || what[name.size()] == ' ');
    };
    for (const CLI::Option* option : app.get_options()) {
        if (!option->nonpositional()) {
            continue;
        }
        bool named = names(option->get_name());
        for (const std::string& name : option->get_lnames()) {
            named = named || names(name);
        }
        if (!named) {
            continue;
        }
        if (IsFlag(*option)) {
            return "Unexpected value after '" + TypedName(*option, arguments, true) + "'.";
        }
        return "Missing value after '" + TypedName(*option, arguments, false) + "'.";
    }
    return what;
}

// The arguments after the program, put so that CLI11 reads them as the
// converter always has: an option's value is the next argument whatever it looks
// like ("--name -x-"), "--name=" is an empty name, and a flag takes no "=value"
// ("--force=true"). Returns the refusal of a flag given a value, else "".
std::string Words(const CLI::App& parser, const std::vector<std::string>& arguments,
                  std::vector<std::string>& words) {
    const CLI::Option* valueOf = nullptr;  // the option the next argument is the value of
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (valueOf != nullptr) {
            // As one "--name=value" word, so that CLI11 takes no value for an option;
            // an empty one stays apart, where CLI11 takes it as it is.
            if (!word.empty()) {
                words.back() = "--" + valueOf->get_lnames().front() + '=' + word;
            } else {
                words.push_back(word);
            }
            valueOf = nullptr;
            continue;
        }
        if (word == "--") {  // the rest are clips, whatever they look like
            words.insert(words.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i),
                         arguments.end());
            break;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const CLI::Option* option =
            name.size() > 1 && name.starts_with('-') ? parser.get_option_no_throw(name) : nullptr;
        if (option != nullptr && equals != std::string::npos && name.starts_with("--")) {
            if (IsFlag(*option)) {
                return "Unexpected value after '" + name + "'.";
            }
            if (equals + 1 == word.size()) {
                words.push_back(name);
                words.emplace_back();
                continue;
            }
        }
        if (option != nullptr && !IsFlag(*option) && equals == std::string::npos) {
            valueOf = option;
        }
        words.push_back(word);
    }
    return std::string();
}

// The converter on its arguments, UTF-8 text: arguments[0] is the program as
// it was called.
int Run(const std::vector<std::string>& arguments) {
    CLI::App parser(kDescription, "sparkloom-cli");
    parser.formatter(
        std::make_shared<HelpLayout>(arguments.empty() ? "sparkloom-cli" : arguments[0]));
    // Help and version are plain flags, answered once the whole line has been read.
    parser.set_help_flag();
    parser.allow_extras();
    const auto flag = [&parser](const std::string& names, const std::string& text) {
        return parser.add_flag(names, text)->disable_flag_override();
    };
    const auto valued = [&parser](const std::string& names, const std::string& value,
                                  const std::string& text) {
        return parser.add_option(names, text)
            ->type_name(value)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    };
    CLI::Option* help = flag("-h,--help", "Displays help on commandline options.");
    CLI::Option* version = flag("-v,--version", "Displays version information.");
    CLI::Option* output = valued(
        "-o,--output", "PACKAGE",
        "The package to write (required); \".dzp\" is added when its file name holds no "
        "\".\". It must not lie in the video's folder. With several clips: the folder for their "
        "packages.");
    CLI::Option* name = valued("--name", "NAME",
                               "Particle name (default: the video's file name without its last "
                               "four characters). Blanks become \"_\" in the frame names.");
    CLI::Option* type = valued("--type", "TYPE", "Project type: CUSTOM or PRESET (required).");
    CLI::Option* category = valued(
        "--category", "NAME", "Category in the host's template manager, e.g. General (required).");
    CLI::Option* thumb =
        valued("--thumb", "PICTURE",
               "Picture copied as Thumb.jpg and Thumb.png (default: the first frame).");
    CLI::Option* first = valued("--first", "FRAME",
                                "File name of the animation's first image in the frames folder "
                                "(default: NAME_00001.jpg).");
    CLI::Option* framesDir =
        valued("--frames-dir", "DIR",
               "Folder for the frames (default: PACKAGE's base name + \"_frames\" beside the "
               "package). It must be new or empty unless --force.");
    CLI::Option* force = flag("--force",
                              "Overwrite an existing package, extract into a folder that holds "
                              "files, and pack even when entries are left out (more than 2000 in "
                              "a folder).");
    CLI::Option* fps = valued("--fps", "N",
                              "Resample to N frames a second before writing; 30 plays the "
                              "particle at the clip's own speed (default: every frame).");
    CLI::Option* quality = valued(
        "--quality", "Q", "JPEG quality from 2 (best, largest) to 31 (default: ffmpeg's own).");
    CLI::Option* start = valued("--start", "TIME",
                                "Take the clip from TIME on: seconds or [HH:]MM:SS[.fff]; the "
                                "seek is frame-accurate.");
    CLI::Option* duration =
        valued("--duration", "TIME", "Take only TIME of the clip (seconds or [HH:]MM:SS[.fff]).");
    CLI::Option* width =
        valued("--width", "W",
               "Scale the frames to W pixels wide (16 to 8192), keeping the aspect ratio.");
    CLI::Option* quiet = flag("--quiet", "Print only errors and warnings.");
    CLI::Option* timings = flag("--timings", "Print how long each step took.");
    CLI::Option* check = flag(
        "--check",
        "Check the packages given instead of converting: the archive reads back (CRC and size "
        "of every entry), names the host can carry, both templates, both thumbnails, the first "
        "frame, frames without gaps and the duration. Prints \"OK\" or each fault; extra files "
        "are notes. Usage: --check PACKAGE.dzp [...]");
    CLI::Option* estimate = flag(
        "--estimate",
        "Print the frames the frame options (--fps, --width, --start, --duration, --quality) "
        "give of VIDEO, their size in pixels, about how many MB, how long they play in the host "
        "and what does not fit one package, as the window's Frames dialog does; extract "
        "nothing. Exit status 3 when they do not fit. Usage: VIDEO --estimate [options]");
    std::vector<std::string> positional;
    parser
        .add_option("VIDEO", positional,
                    "The video clip; several clips make one package each in the folder -o names "
                    "(with --check: the packages).")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    std::vector<std::string> words;
    if (const std::string refusal = Words(parser, arguments, words); !refusal.empty()) {
        return UsageError(refusal);
    }
    // CLI11 reads its arguments from the back.
    std::vector<std::string> backwards(words.rbegin(), words.rend());
    try {
        parser.parse(backwards);
    } catch (const CLI::ArgumentMismatch& mismatch) {
        return UsageError(MismatchText(parser, mismatch, arguments));
    } catch (const CLI::ParseError& error) {
        return UsageError(error.what());
    }
    const auto isSet = [](const CLI::Option* option) { return option->count() > 0; };
    // As QCommandLineParser told them: "-abc" is three short options.
    std::vector<std::string> unknown;
    for (const std::string& extra : parser.remaining()) {
        if (extra == "--" || extra.size() < 2 || !extra.starts_with('-')) {
            continue;
        }
        if (extra[1] == '-') {
            unknown.push_back(OptionNameOf(extra));
        } else {
            for (const char letter : extra.substr(1, extra.find('=') - 1)) {
                unknown.push_back(std::string(1, letter));
            }
        }
    }
    if (unknown.size() == 1) {
        return UsageError("Unknown option '" + unknown.front() + "'.");
    }
    if (!unknown.empty()) {
        return UsageError("Unknown options: " + sparkloom::Join(unknown, ", ") + ".");
    }
    if (isSet(help)) {
        PrintOut(parser.help());
        return kExitSuccess;
    }
    if (isSet(version)) {
        PrintOut("sparkloom-cli " SPARKLOOM_VERSION "\n");
        return kExitSuccess;
    }
    const auto value = [](const CLI::Option* option) {
        return option->count() > 0 ? option->as<std::string>() : std::string();
    };
    const auto optional = [&value](const CLI::Option* option) -> std::optional<std::string> {
        if (option->count() == 0) {
            return std::nullopt;
        }
        return value(option);
    };
    // The long name, as the texts of the converter's own checks give it.
    const auto longName = [](const CLI::Option* option) { return option->get_lnames().back(); };

    if (isSet(check)) {
        for (const CLI::Option* conversion :
             {output, name, type, category, thumb, first, framesDir, force, timings, fps, quality,
              start, duration, width, estimate}) {
            if (isSet(conversion)) {
                return UsageError("--" + longName(conversion) +
                                  " converts a video; it cannot be used with --check.");
            }
        }
        if (positional.empty()) {
            return UsageError("no PACKAGE given to --check.");
        }
        if (std::find(positional.begin(), positional.end(), "") != positional.end()) {
            return UsageError("a PACKAGE given to --check is empty.");
        }
        return CheckPackages(positional, isSet(quiet));
    }
    if (positional.empty()) {
        return UsageError("no VIDEO given.");
    }
    if (std::find(positional.begin(), positional.end(), "") != positional.end()) {
        return UsageError("VIDEO is empty.");
    }
    std::string refusal;
    const sparkloom::FrameOptions frameOptions = sparkloom::FrameOptionsOf(
        {optional(fps), optional(quality), optional(start), optional(duration), optional(width)},
        refusal);
    if (isSet(estimate)) {
        for (const CLI::Option* conversion :
             {output, name, type, category, thumb, first, framesDir, force, timings}) {
            if (isSet(conversion)) {
                return UsageError("--" + longName(conversion) +
                                  " converts a video; it cannot be used with --estimate.");
            }
        }
        if (positional.size() > 1) {
            return UsageError("--estimate takes one VIDEO.");
        }
        if (!refusal.empty()) {
            return UsageError(refusal);
        }
        return PrintEstimate(positional.front(), frameOptions);
    }
    const bool several = positional.size() > 1;
    if (!isSet(output) || value(output).empty()) {
        return UsageError(several ? "no folder given: -o OUTDIR is required with several clips."
                                  : "no package given: -o PACKAGE is required.");
    }
    if (several) {
        for (const CLI::Option* own : {name, thumb, first, framesDir}) {
            if (isSet(own)) {
                return UsageError("--" + longName(own) +
                                  " is for one clip; with several, each takes its own from its "
                                  "file name.");
            }
        }
        if (const std::string refusal = BatchRefusal(positional, value(output)); !refusal.empty()) {
            return UsageError(refusal);
        }
    }
    // An empty or "Select" type is left to the window's own check and its text.
    if (isSet(type)) {
        const std::string typed = value(type);
        if (!typed.empty() && typed != "Select" && !IsKnownType(typed)) {
            return UsageError("unknown --type \"" + typed + "\"; CUSTOM or PRESET.");
        }
    }

    ConvertOptions options;
    options.video = positional.front();
    options.package = value(output);
    options.name = optional(name);
    options.type = optional(type);
    options.category = optional(category);
    options.thumb = optional(thumb);
    options.first = optional(first);
    options.framesDir = value(framesDir);
    options.force = isSet(force);
    options.timings = isSet(timings);

    options.frameOptions = frameOptions;
    if (!refusal.empty()) {
        return UsageError(refusal);
    }

    TerminalProgress progress(TerminalProgress::ModeFor(isSet(quiet)), stderr,
                              sparkloom::platform::EnableTerminalEscapes(stderr));
    if (several) {
        return ConvertMany(options, positional, value(output), progress);
    }
    return Convert(options, progress);
}

}  // namespace

namespace {

int Start(const std::vector<std::string>& arguments) {
    sparkloom::platform::KeepFreedMemoryForReuse();
    sparkloom::platform::PreferUtf8Locale();
    // Before any child starts: a stop signal must reach the converter, which stops ffmpeg.
    sparkloom::platform::StopSignals::Install();
    const int status = Run(arguments);
    sparkloom::platform::StopSignals::Settled();
    return status;
}

}  // namespace

#ifdef _WIN32

namespace {

UINT gConsoleCodePage = 0;

void RestoreConsoleCodePage() {
    SetConsoleOutputCP(gConsoleCodePage);
}

// The converter writes UTF-8 bytes, as on Linux: into a pipe or a file they
// stay as they are (no CR added before LF), and a console is switched to UTF-8
// for as long as the converter runs, so that it shows every letter.
void PrepareOutput() {
    for (std::FILE* stream : {stdout, stderr}) {
        _setmode(_fileno(stream), _O_BINARY);
    }
    if (sparkloom::platform::IsTerminal(stdout) || sparkloom::platform::IsTerminal(stderr)) {
        gConsoleCodePage = GetConsoleOutputCP();
        if (gConsoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            std::atexit(RestoreConsoleCodePage);
        }
    }
}

}  // namespace

// The arguments arrive as UTF-16 and become UTF-8 here, once: the ANSI code
// page could not carry a path such as C:\Users\Zoë\Видео\火.mp4.
int wmain(int argc, wchar_t* argv[]) {
    PrepareOutput();
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(sparkloom::platform::Utf8OfWide(argv[i]));
    }
    return Start(arguments);
}

#else

// The one place arguments become text: UTF-8 as the system hands them over here.
int main(int argc, char* argv[]) {
    return Start(std::vector<std::string>(argv, argv + argc));
}

#endif
