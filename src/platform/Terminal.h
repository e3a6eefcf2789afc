#pragma once

#include <cstdio>

namespace sparkloom::platform {

// Whether the stream goes to a terminal (a console), not a file or a pipe.
bool IsTerminal(std::FILE* stream);
// The terminal's width in columns; 0 when it cannot be told.
int TerminalColumns(std::FILE* stream);

}  // namespace sparkloom::platform
