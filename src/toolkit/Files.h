#pragma once
// The file services that several layers need the same way: the user's home
// folder, opening a file for reading only when it is a regular file, reading
// at an offset, the size and last change of a file, and writing a whole file
// so that a failure never leaves it half-written. Names are UTF-8; on Windows
// they are opened by their UTF-16 form (Win32files.cpp), so a file in a
// folder with a Chinese name opens.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tolm {

// $HOME when it is set and not empty, else the home folder of the user in the
// password database; empty when neither tells. The port map, port discovery
// and the diagnostic log all take the home from here, so they never disagree.
// On Windows: %USERPROFILE%.
std::string HomeDirectory();

// Opens path read-only when it names a regular file (through symbolic links):
// a FIFO, a device or a folder is refused without ever blocking on it. The
// descriptor (close-on-exec, blocking reads), or -1 with errno set (EISDIR for
// a folder, EINVAL for anything else that is not a regular file). Closed with
// CloseFile.
int OpenRegularFile(const std::string& path);
void CloseFile(int fd);

// The size of the file open as fd, or -1.
long long OpenFileSize(int fd);

// Reads up to count bytes at offset of the file open as fd, whatever its
// position: the count read (short at the end of the file), or -1.
long long ReadFileAt(int fd, long long offset, void* buffer, long long count);

struct TFileFacts {
    long long Size = 0;
    int64_t ModifiedNs = 0;  // last change, in nanoseconds since 1970
};
// Size and last change of the regular file at path (through symbolic links);
// nothing when path names no regular file.
std::optional<TFileFacts> RegularFileFacts(const std::string& path);

// How WriteWholeFile ended; errno tells why when it failed.
enum class TWholeFileWrite {
    Written,
    CannotCreate,  // neither a file beside it nor the file itself could be opened
    CannotWrite,   // a write, the close or the final rename failed: the old file is unchanged
};

// Writes bytes to path so that the file is either the old one or the whole
// new one: the bytes go to a fresh file beside it, which then replaces it and
// takes the old file's permissions (through a symbolic link, what it points
// at is replaced). Where no file can be made beside it (a folder without
// write permission), the file itself is rewritten.
TWholeFileWrite WriteWholeFile(const std::string& path, const std::string& bytes);

// Opens path for appending lines that other programs may append to as well:
// created when missing (0644 where permissions exist), read and write,
// never through a symbolic link at its name (errno ELOOP), never a FIFO or
// a device (EINVAL, or EISDIR for a folder). The descriptor, or -1 with
// errno set. Closed with CloseFile.
int OpenSharedAppendFile(const std::string& path);
// Holds an exclusive lock on the whole file open as fd until UnlockWholeFile;
// another program's lock on it waits meanwhile.
void LockWholeFile(int fd);
void UnlockWholeFile(int fd);
// Has the system put what was written to fd on its disk; false when it could not.
bool SyncFile(int fd);
// True while the file open as fd is still the file at path: not deleted, not
// moved away, not replaced by another file (same device and file number, at
// least one name). What is written to a file that has lost its name is lost.
bool StillFileAtPath(int fd, const std::string& path);

// The path of a UTF-8 name for std::filesystem and the file streams, which
// otherwise read a narrow name in the ANSI code page on Windows.
std::filesystem::path FilePath(const std::string& utf8);

}  // namespace tolm
