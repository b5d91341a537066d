#pragma once
// What the records need of the system, one file per system behind this
// header (Posixsystemservices.cpp: POSIX; Win32systemservices.cpp: Windows).
// Texts are UTF-8. Safe from any thread.
#include <cstddef>
#include <optional>
#include <string>

namespace tolm::records {

// Fills buffer with bytes of the system's random source (getrandom, or
// RtlGenRandom through rand_s); false when it gave none.
bool RandomBytes(void* buffer, size_t size);

// This computer's name, as benches are told apart by: the host name
// (gethostname; on Windows the computer's DNS host name); empty when unknown.
std::string HostName();

// This process's ID, and whether a process of that ID is running (one that
// cannot be looked at counts as running).
long ProcessId();
bool ProcessRunning(long pid);

// The value of an environment variable; nothing when it is not set.
std::optional<std::string> EnvironmentText(const std::string& name);

// Replaces the file at path by bytes so that after a crash or a power cut it
// holds either its old or its whole new content: a temporary file beside it
// is written and flushed to the disk, renamed over it, and the folder's entry
// flushed too. False, with why set, when any step failed (the old file then
// stays as it was).
bool WriteFileDurably(const std::string& path, const std::string& bytes, std::string& why);

}  // namespace tolm::records
