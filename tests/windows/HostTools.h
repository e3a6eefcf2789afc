#pragma once

// The Windows tests run under Wine on a Linux machine, and their independent
// readers stay the Linux ones: Python's zipfile and unzip. Wine starts a Linux
// program but hands back neither its output nor a handle to wait on, so the
// program runs from a small shell script that writes its output, its error
// output and its exit status to files the test then reads.

#include <string>
#include <vector>

#include "support/CoreTest.h"

namespace sparkloom::test {

// Whether RunTool hands program to the Linux host: python3, unzip, sh, ffprobe,
// ffmpeg.
bool IsHostProgram(const std::string& program);

// Runs program on the Linux host. Every argument that is a whole Windows path
// ("C:\...", "Z:/...") and the start folder are given as the host's paths; the
// environment is Wine's with options.environment over it. Only
// options.timeoutMs is served: no process id, no stop.
ToolRun RunOnHost(const std::string& program, const std::vector<std::string>& arguments,
                  const ToolOptions& options);

}  // namespace sparkloom::test
