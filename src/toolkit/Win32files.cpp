// The file services on Windows: names are UTF-8 inside the program and are
// opened by their UTF-16 form, so a file in a folder with a Chinese name
// opens, in the extended-length form (Utf8ToWidePath), so a name of any
// length opens.
#include "toolkit/Files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cwchar>

#include "toolkit/Win32text.h"

#include <windows.h>

namespace tolm {

std::string HomeDirectory() {
    if (const wchar_t* home = _wgetenv(L"USERPROFILE"); home && *home) return WideToUtf8(home);
    return {};
}

namespace {
// errno for the last Win32 error of a file operation. A file that another
// program holds without letting others read it (a sharing violation) is
// EBUSY; one whose bytes another program has locked, ENOLCK.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: return ENOENT;
        case ERROR_ACCESS_DENIED: return EACCES;
        case ERROR_SHARING_VIOLATION: return EBUSY;
        case ERROR_LOCK_VIOLATION: return ENOLCK;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        default: return EIO;
    }
}

// True when another program holds a lock on some of the file's bytes, which
// Windows enforces on reads (Wine does not): a shared lock on the whole file
// is refused then.
bool LockedByAnother(HANDLE file) {
    OVERLAPPED whole{};
    if (LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
        return false;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION;
}
}  // namespace

int OpenRegularFile(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    // Read, letting others read, write and rename it meanwhile: only a
    // program that lets no one read the file keeps it from us.
    const HANDLE file = CreateFileW(Utf8ToWidePath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return -1;
    }
    // Checked on what was opened: a folder, a pipe or a device is refused
    // without ever being read from.
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info);
    if (!disk || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = disk ? EISDIR : EINVAL;
        CloseHandle(file);
        return -1;
    }
    if (LockedByAnother(file)) {
        errno = ENOLCK;
        CloseHandle(file);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        errno = EMFILE;
    }
    return fd;
}

void CloseFile(int fd) {
    if (fd >= 0) _close(fd);
}

long long OpenFileSize(int fd) {
    struct _stat64 st {};
    return fd >= 0 && _fstat64(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

long long ReadFileAt(int fd, long long offset, void* buffer, long long count) {
    if (fd < 0 || offset < 0 || count < 0) return -1;
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (file == INVALID_HANDLE_VALUE) return -1;
    auto* bytes = static_cast<unsigned char*>(buffer);
    long long done = 0;
    while (done < count) {
        // A read with an offset leaves the file position alone, as pread does.
        OVERLAPPED at{};
        const long long where = offset + done;
        at.Offset = static_cast<DWORD>(where & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const DWORD ask = static_cast<DWORD>(std::min<long long>(count - done, 1 << 30));
        DWORD got = 0;
        if (!ReadFile(file, bytes + done, ask, &got, &at)) return GetLastError() == ERROR_HANDLE_EOF ? done : -1;
        if (got == 0) break;
        done += got;
    }
    return done;
}

std::optional<TFileFacts> RegularFileFacts(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !GetFileAttributesExW(Utf8ToWidePath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    TFileFacts facts;
    facts.Size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // 100 ns steps since 1601 to nanoseconds since 1970.
    const int64_t ticks = (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
    facts.ModifiedNs = (ticks - 116444736000000000LL) * 100;
    return facts;
}

namespace {
bool WriteAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 30));
        if (!WriteFile(file, bytes.data() + done, ask, &put, nullptr) || put == 0) return false;
        done += put;
    }
    return true;
}
}  // namespace

TWholeFileWrite WriteWholeFile(const std::string& path, const std::string& bytes) {
    const std::wstring target = Utf8ToWidePath(path);
    static std::atomic<unsigned> counter{0};
    const std::wstring temp =
        target + L".~" + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(counter++);
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // No file beside it: the file itself is rewritten.
        file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            errno = ErrnoOf(GetLastError());
            return TWholeFileWrite::CannotCreate;
        }
        const bool ok = WriteAll(file, bytes);
        const DWORD error = GetLastError();
        const bool closed = CloseHandle(file);
        if (!ok || !closed) errno = ErrnoOf(error);
        return ok && closed ? TWholeFileWrite::Written : TWholeFileWrite::CannotWrite;
    }
    const bool ok = WriteAll(file, bytes);
    DWORD error = GetLastError();
    const bool closed = CloseHandle(file);
    // The attributes of the old file (read-only, hidden) go with the name.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(temp.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!ok || !closed || !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        if (ok && closed) error = GetLastError();
        DeleteFileW(temp.c_str());
        errno = ErrnoOf(error);
        return TWholeFileWrite::CannotWrite;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(target.c_str(), attributes);
    return TWholeFileWrite::Written;
}

int OpenSharedAppendFile(const std::string& path) {
    // A link at the name is opened as itself, and refused.
    HANDLE file = CreateFileW(Utf8ToWidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                         !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    if (!regular) {
        errno = info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? ELOOP
                : info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY   ? EISDIR
                                                                      : EINVAL;
        CloseHandle(file);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
    if (fd < 0) CloseHandle(file);
    return fd;
}

void LockWholeFile(int fd) {
    OVERLAPPED whole{};
    LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
}

void UnlockWholeFile(int fd) {
    OVERLAPPED whole{};
    UnlockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), 0, MAXDWORD, MAXDWORD, &whole);
}

bool SyncFile(int fd) { return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != 0; }

bool StillFileAtPath(int fd, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION open{}, named{};
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &open) ||
        open.nNumberOfLinks == 0)
        return false;
    // Only the file's attributes are asked for, and every kind of sharing
    // allowed, so the look disturbs no one who has it open.
    HANDLE file = CreateFileW(Utf8ToWidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool same = GetFileInformationByHandle(file, &named) &&
                      named.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
                      named.nFileIndexHigh == open.nFileIndexHigh && named.nFileIndexLow == open.nFileIndexLow;
    CloseHandle(file);
    return same;
}

// Not in the extended-length form: the C runtime's stat, under the file
// system library, refuses a name with "?" in it.
std::filesystem::path FilePath(const std::string& utf8) { return std::filesystem::path(Utf8ToWide(utf8)); }

}  // namespace tolm
