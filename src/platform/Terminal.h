#pragma once

#include <cstdio>

namespace sparkloom::platform {

// Whether the stream goes to a terminal (a console), not a file or a pipe.
bool IsTerminal(std::FILE* stream);
// The terminal's width in columns; 0 when it cannot be told.
int TerminalColumns(std::FILE* stream);
// Asks the terminal to understand escape codes such as "\x1b[K"; true when it
// does. A Windows console that cannot process them (older consoles), or a
// stream that is no terminal, says false.
bool EnableTerminalEscapes(std::FILE* stream);

}  // namespace sparkloom::platform
