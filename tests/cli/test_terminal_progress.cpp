// The converter's progress as each kind of output gets it: escape codes only
// on a terminal that understands them; a classic console gets its bar redrawn
// with "\r" and blanks over what a longer state left.
#include <cstdio>
#include <string>

#include "cli/TerminalProgress.h"
#include "support/CoreTest.h"

using namespace sparkloom;
using namespace sparkloom::cli;

namespace {

// What the progress writer wrote into a file standing for the stream.
std::string Written(std::FILE* file) {
    std::string bytes;
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        bytes += static_cast<char>(c);
    }
    return bytes;
}

}  // namespace

TEST_CASE("progressEscapesOnlyWhereAsked") {
    using Mode = TerminalProgress::Mode;
    struct Row {
        const char* name;
        Mode mode;
        bool escapes;
        bool barExpected;
    };
    const Row rows[] = {
        {"a terminal with escape codes", Mode::Bar, true, true},
        {"a classic console", Mode::Bar, false, true},
        {"a file or a pipe", Mode::Lines, false, false},
        {"a file, escapes claimed", Mode::Lines, true, false},
        {"quiet", Mode::Quiet, true, false},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        std::FILE* file = std::tmpfile();
        REQUIRE(file != nullptr);
        {
            TerminalProgress progress(row.mode, file, row.escapes);
            progress.StartBar("Step", 1000, TerminalProgress::Unit::Count);
            progress.UpdateBar(1000);  // drawn or not, as the redraw pace allows
            progress.SetTotal(0);      // the count alone: a shorter state
            progress.EndBar();
        }
        const std::string out = Written(file);
        std::fclose(file);
        CHECK((out.find('\x1b') != std::string::npos) == (row.barExpected && row.escapes));
        if (!row.barExpected) {
            CHECK(out == (row.mode == Mode::Lines ? "Step\n" : ""));
            continue;
        }
        // "\rFIRST" ... "\rStep 1000" + what clears the rest + "\n".
        REQUIRE(out.starts_with("\rStep ["));
        const std::string first = out.substr(1, out.find('\r', 1) - 1);
        const std::string last = out.substr(out.rfind('\r') + 1);
        if (row.escapes) {
            CHECK(first.ends_with("0/1000\x1b[K"));
            CHECK(last == "Step 1000\x1b[K\n");
        } else {
            CHECK(first.ends_with("0/1000"));
            CHECK(last == "Step 1000" + std::string(first.size() - 9, ' ') + "\n");
        }
    }
}
