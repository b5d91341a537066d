// The command line's text on Windows (Consoletext.h): to a console as UTF-16
// through WriteConsoleW; to anything else as UTF-8 through the C runtime.
#include "cli/Consoletext.h"

#include <io.h>

#include <algorithm>
#include <atomic>

#include "toolkit/Win32text.h"

#include <windows.h>

namespace tolm::cli {

namespace {
// The console behind stdout or stderr, or nothing; asked once per stream (a
// console stays one for the life of the process).
HANDLE ConsoleOf(std::FILE* out) {
    static std::atomic<int> known[2] = {-1, -1};  // -1 not asked, 0 no console, 1 a console
    const int which = out == stdout ? 0 : out == stderr ? 1 : -1;
    if (which < 0) return nullptr;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    if (known[which] < 0) {
        DWORD mode = 0;
        known[which] = handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? 1 : 0;
    }
    return known[which] == 1 ? handle : nullptr;
}
}  // namespace

void Print(std::FILE* out, const std::string& text) {
    const HANDLE console = ConsoleOf(out);
    if (!console) {
        std::fwrite(text.data(), 1, text.size(), out);
        return;
    }
    std::fflush(out);  // what the stream still holds goes first
    const std::wstring wide = Utf8ToWide(text);
    // A console takes a limited amount at once.
    constexpr size_t kChunk = 8192;
    for (size_t done = 0; done < wide.size();) {
        const DWORD ask = static_cast<DWORD>(std::min(kChunk, wide.size() - done));
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + done, ask, &written, nullptr) || written == 0) return;
        done += written;
    }
}

}  // namespace tolm::cli
