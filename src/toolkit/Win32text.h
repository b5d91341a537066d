#pragma once
// Text between the program's UTF-8 and what the Win32 calls take: UTF-16 for
// the W calls (file names, the command line, the console), and the ANSI code
// page for the A calls (registry texts).
#include <string>

namespace tolm {

// Invalid UTF-8 becomes U+FFFD.
std::wstring Utf8ToWide(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(const std::wstring& text);
// The UTF-16 name of a file or folder for the W calls, of any length: an
// absolute path (a relative one is made absolute from the current folder)
// in its extended-length form, "\\?\C:\..." or "\\?\UNC\server\share\...",
// which Windows opens beyond MAX_PATH without a manifest or a policy. Device
// names ("\\.\COM3", NUL) and names already in that form are kept.
std::wstring Utf8ToWidePath(const std::string& path);
// Text of the A calls (the ANSI code page) to UTF-8, and back.
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);

// Replaces main's arguments, which hold the command line in the ANSI code
// page, by the same arguments in UTF-8 (from GetCommandLineW). The console's
// code page is left alone: text reaches a console through WriteConsoleW
// (cli/Consoletext.h). The new arguments live as long as the program.
void UseUtf8CommandLine(int& argc, char**& argv);

}  // namespace tolm
