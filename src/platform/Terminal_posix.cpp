#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace sparkloom::platform {

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

int TerminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 0;
}

bool EnableTerminalEscapes(std::FILE* stream) {
    // Terminals understand them, but for one that says it knows none.
    const char* term = std::getenv("TERM");
    return IsTerminal(stream) && !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

}  // namespace sparkloom::platform
