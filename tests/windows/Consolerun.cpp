// Runs a program on a console, as an operator's Command Prompt would, for
// the end-to-end tests (e2e.sh):
//   consolerun.exe text REPORT -- PROGRAM [ARG...]
//     on the console it was started with (under Wine: run it on a terminal),
//     sets the console's code page to 437 (an English Windows), runs the
//     program with its output on the console, then writes to the file REPORT
//     (UTF-8) "codepage BEFORE AFTER" and the console's text, a line for
//     each line of the screen that holds any.
//   consolerun.exe ctrl-c ERRFILE PRESSES -- PROGRAM [ARG...]
//     on a console of its own, runs the program with its stdout on this
//     program's and its stderr in ERRFILE; once ERRFILE tells of progress,
//     prints "attached N" (the processes on the console), presses Ctrl-C
//     PRESSES times, 0.2 s apart, and prints "exit CODE" once the program has
//     ended.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

HANDLE g_out = INVALID_HANDLE_VALUE;  // where this program reports

void Say(const std::wstring& text) {
    const std::wstring line = text + L"\n";
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(g_out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

BOOL WINAPI KeepRunning(DWORD) { return TRUE; }

bool FileTells(const std::wstring& path, const char* word) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string text(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    text.resize(got);
    return text.find(word) != std::string::npos;
}

std::vector<std::wstring> ScreenLines() {
    std::vector<std::wstring> lines;
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(screen, &info)) return lines;
    std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        DWORD got = 0;
        ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &got);
        std::wstring line = row.substr(0, got);
        line.erase(line.find_last_not_of(L' ') + 1);
        if (!line.empty()) lines.push_back(line);
    }
    CloseHandle(screen);
    return lines;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int dash = 1;
    while (dash < argc && std::wstring(argv[dash]) != L"--") ++dash;
    if (argc < 2 || dash + 1 >= argc) {
        std::fprintf(stderr, "usage: consolerun.exe text REPORT | ctrl-c ERRFILE PRESSES -- PROGRAM [ARG...]\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    std::wstring commandLine;
    for (int i = dash + 1; i < argc; ++i) commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(argv[i]);

    if (mode == L"text") {
        g_out = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    } else {
        // Its standard output, kept from before the console of its own.
        DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(), &g_out, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
        FreeConsole();
        AllocConsole();
    }
    SetConsoleCtrlHandler(KeepRunning, TRUE);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    HANDLE err = INVALID_HANDLE_VALUE;
    const UINT before = 437;
    if (mode == L"text") {
        SetConsoleOutputCP(before);
    } else {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        err = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = g_out;
        si.hStdError = err;
    }
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        Say(L"cannot start " + commandLine);
        return 1;
    }
    if (mode == L"text") {
        WaitForSingleObject(pi.hProcess, 60000);
        Say(L"codepage " + std::to_wstring(before) + L" " + std::to_wstring(GetConsoleOutputCP()));
        for (const auto& line : ScreenLines()) Say(line);
    } else {
        for (int i = 0; i < 600 && !FileTells(argv[2], "progress"); ++i) Sleep(50);
        DWORD ids[64];
        Say(L"attached " + std::to_wstring(GetConsoleProcessList(ids, 64)));
        const int presses = _wtoi(argv[3]);
        for (int i = 0; i < presses; ++i) {
            if (i > 0) Sleep(200);
            GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        }
        WaitForSingleObject(pi.hProcess, 60000);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        Say(L"exit " + std::to_wstring(code));
    }
    return 0;
}
