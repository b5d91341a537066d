#pragma once
// The command line's text on stdout and stderr. Text is UTF-8 inside the
// program. On Windows, text for a console is written with WriteConsoleW, so
// that Chinese shows whatever the console's code page, which is never
// changed; text for a file or a pipe stays UTF-8, with CR LF (the C
// runtime's text mode). Elsewhere the C library's stdio writes it as it is.
#include <cstdio>
#include <string>

namespace tolm::cli {

// Writes text to out (stdout or stderr) after what the stream holds.
void Print(std::FILE* out, const std::string& text);
// Formats as printf does, then writes as Print.
void Printf(std::FILE* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tolm::cli
