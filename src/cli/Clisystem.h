#pragma once
// What the command line's shared files need of the system, one file per
// system behind this header (Posixclisystem.cpp, Win32clisystem.cpp).
#include <ctime>

namespace tolm::cli {

// Readies the process before its command line is read. On Windows: the
// setup program is told that the program runs (it replaces nothing while it
// does), the command line is taken as UTF-8, and stderr is unbuffered (the C
// runtime would hold back what goes to a file or a pipe until the exit).
// Elsewhere there is nothing to do.
void PrepareProcess(int& argc, char**& argv);

// Examples of the --port forms for the main help: the system's own.
extern const char* const kPortExamples;

// A write beyond the file size limit fails (and is told) instead of ending
// the process (SIGXFSZ ignored; Windows has no such limit).
void KeepOnAtFileSizeLimit();

// now as the local time and as UTC.
void LocalAndUtcTime(std::time_t now, std::tm& local, std::tm& utc);

}  // namespace tolm::cli
