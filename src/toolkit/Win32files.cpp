// The file services on Windows: names are UTF-8 inside the program and are
// opened by their UTF-16 form, so a file in a folder with a Chinese name opens.
#include "toolkit/Files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cwchar>

#include "toolkit/Win32text.h"

namespace tolm {

std::string HomeDirectory() {
    if (const wchar_t* home = _wgetenv(L"USERPROFILE"); home && *home) return WideToUtf8(home);
    return {};
}

int OpenRegularFile(const std::string& path) {
    const std::wstring name = Utf8ToWide(path);
    struct _stat64 st {};
    if (name.empty() || _wstat64(name.c_str(), &st) != 0) return -1;
    if (!(st.st_mode & _S_IFREG)) {
        errno = (st.st_mode & _S_IFDIR) ? EISDIR : EINVAL;
        return -1;
    }
    const int fd = _wopen(name.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return -1;
    // Checked again on what was opened, in case the name changed meanwhile.
    if (_fstat64(fd, &st) != 0 || !(st.st_mode & _S_IFREG)) {
        _close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace tolm
