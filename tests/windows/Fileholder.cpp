// Holds a file as another program would, for the end-to-end tests (e2e.sh):
//   fileholder.exe FILE share   open with no sharing: no other program may read it
//   fileholder.exe FILE lock    open shared, with every byte locked (LockFileEx)
// Prints "held" once it holds the file and keeps it for a minute, or until
// it is ended.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fileholder.exe FILE share|lock\n");
        return 2;
    }
    const bool lock = std::wstring(argv[2]) == L"lock";
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, lock ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED whole{};
    if (file == INVALID_HANDLE_VALUE || (lock && !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))) {
        std::fprintf(stderr, "fileholder: cannot hold the file (error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(60000);
    return 0;
}
