// The program's command line: it takes no arguments of its own besides --help and --version,
// which are answered before any window or display is needed. Everything else goes to Qt.
#pragma once

#include <optional>

// The exit code when argv asks for --help or --version (the answer is printed on standard
// output), nothing when the program should start.
std::optional<int> AnswerCommandLine(int argc, const char* const argv[]);
