// One run of this program in a process of its own, on Windows (Childprocess.h).
#include "cli/Childprocess.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

#include "cli/Childcontrol.h"
#include "toolkit/Win32text.h"

#include <windows.h>

namespace tolm::cli {

namespace {
// The C runtime's flags of a descriptor handed to a child (lpReserved2): open, a pipe.
constexpr unsigned char kOpenPipe = 0x01 | 0x08;

std::string SystemError(DWORD error) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text,
                   nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds a
// blank or a quote, backslashes doubled where a quote follows them.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
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

// A run has no console: Ctrl-C, Ctrl-Break and the console's closing, which
// the console sends to every process attached to it, are the parent's alone
// to judge (it stops each run over its control pipe), so none of them ends a
// run in the middle of a transfer.
DWORD RunCreationFlags() { return DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP; }

std::wstring OwnFile() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// A pipe from the child, read by a thread of its own into a buffer; its
// event is signalled while data or the pipe's end waits to be taken.
struct TReader {
    HANDLE pipe = nullptr;
    HANDLE ready = nullptr;
    std::mutex mutex;
    std::string data;
    bool ended = false;
    std::thread thread;

    void Start(HANDLE readEnd) {
        pipe = readEnd;
        ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread = std::thread([this] {
            char buf[4096];
            DWORD n = 0;
            while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) {
                std::lock_guard lock(mutex);
                data.append(buf, n);
                SetEvent(ready);
            }
            std::lock_guard lock(mutex);
            ended = true;
            SetEvent(ready);
        });
    }
    int Fd() const { return ready ? HandleToLong(ready) : -1; }
    // After the end: the thread has finished, or finishes at once.
    void Close() {
        if (thread.joinable()) thread.join();
        if (pipe) CloseHandle(pipe);
        if (ready) CloseHandle(ready);
        pipe = ready = nullptr;
    }
    ~TReader() { Close(); }
};

struct TPipes {
    TReader report, err;
    HANDLE control = nullptr;  // the write end of the child's stdin
};
}  // namespace

struct TChildProcess::TState {
    std::unique_ptr<TPipes> pipes;
    void* process = nullptr;
};

TChildProcess::TChildProcess() : state_(std::make_unique<TState>()) {}

TChildProcess::~TChildProcess() {
    if (state_->process) {
        Stop();
        Wait();
    }
    if (state_->pipes && state_->pipes->control) CloseHandle(state_->pipes->control);
    state_->pipes.reset();  // the readers end with the child's pipes
}

bool TChildProcess::Running() const { return state_->process != nullptr; }
int TChildProcess::ReportFd() const { return state_->pipes ? state_->pipes->report.Fd() : -1; }
int TChildProcess::ErrorFd() const { return state_->pipes ? state_->pipes->err.Fd() : -1; }

bool TChildProcess::Start(const std::vector<std::string>& args, std::string& error) {
    if (state_->process) {
        error = "a run is still going on";
        return false;
    }
    if (state_->pipes && state_->pipes->control) CloseHandle(state_->pipes->control);
    state_->pipes.reset();

    // Only the child's ends are inheritable, and only until it has started.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE reportRead = nullptr, reportWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    HANDLE controlRead = nullptr, controlWrite = nullptr;
    const auto closeAll = [&] {
        for (HANDLE h : {reportRead, reportWrite, errRead, errWrite, controlRead, controlWrite})
            if (h) CloseHandle(h);
    };
    if (!CreatePipe(&reportRead, &reportWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0) ||
        !CreatePipe(&controlRead, &controlWrite, &inherit, 0)) {
        error = "cannot start a run: " + SystemError(GetLastError());
        closeAll();
        return false;
    }
    SetHandleInformation(reportRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(controlWrite, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);

    // The report pipe becomes the child's descriptor kReportFd through the C
    // runtime's own hand-over of descriptors (the block in lpReserved2: a
    // count, a flag byte and a handle for each descriptor from 0 on); 0 to 2
    // come from the standard handles.
    constexpr int kCount = kReportFd + 1;
    std::vector<unsigned char> block(sizeof(int) + kCount * (1 + sizeof(HANDLE)), 0);
    std::memcpy(block.data(), &kCount, sizeof kCount);
    unsigned char* flags = block.data() + sizeof(int);
    unsigned char* handles = flags + kCount;
    for (int fd = 0; fd < kCount; ++fd) {
        const HANDLE h = fd == kReportFd ? reportWrite : INVALID_HANDLE_VALUE;
        flags[fd] = fd == kReportFd ? kOpenPipe : 0;
        std::memcpy(handles + fd * sizeof(HANDLE), &h, sizeof h);
    }

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = controlRead;
    si.hStdOutput = nul;
    si.hStdError = errWrite;
    si.cbReserved2 = static_cast<WORD>(block.size());
    si.lpReserved2 = block.data();

    std::wstring commandLine;
    for (const auto& arg : args) commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(Utf8ToWide(arg));
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(OwnFile().c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        RunCreationFlags(), nullptr, nullptr, &si, &pi);
    const DWORD startError = GetLastError();
    CloseHandle(reportWrite);
    CloseHandle(errWrite);
    CloseHandle(controlRead);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    reportWrite = errWrite = controlRead = nullptr;
    if (!started) {
        error = "cannot start a run: " + SystemError(startError);
        closeAll();
        return false;
    }
    CloseHandle(pi.hThread);
    state_->process = pi.hProcess;
    state_->pipes = std::make_unique<TPipes>();
    state_->pipes->control = controlWrite;
    state_->pipes->report.Start(reportRead);
    state_->pipes->err.Start(errRead);
    return true;
}

ssize_t TChildProcess::Read(int fd, char* buf, size_t size) {
    if (!state_->pipes || fd < 0) return -1;
    TReader* reader = fd == state_->pipes->report.Fd() ? &state_->pipes->report : fd == state_->pipes->err.Fd() ? &state_->pipes->err : nullptr;
    if (!reader) return -1;
    std::unique_lock lock(reader->mutex);
    if (!reader->data.empty()) {
        const size_t n = std::min(size, reader->data.size());
        std::memcpy(buf, reader->data.data(), n);
        reader->data.erase(0, n);
        if (reader->data.empty() && !reader->ended) ResetEvent(reader->ready);
        return static_cast<ssize_t>(n);
    }
    if (reader->ended) {
        lock.unlock();
        reader->Close();
        return 0;
    }
    ResetEvent(reader->ready);
    return -1;
}

void TChildProcess::Tell(const std::string& line) {
    if (!state_->pipes || !state_->pipes->control) return;
    // The child reads its control pipe all the time; lines are short.
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(state_->pipes->control, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void TChildProcess::Stop() { Tell(kStopLine); }

void TChildProcess::Kill() {
    if (state_->process) TerminateProcess(static_cast<HANDLE>(state_->process), 128 + 9);
}

TChildExit TChildProcess::Wait() {
    TChildExit exit;
    if (!state_->process) {
        exit.Error = "no run was started";
        return exit;
    }
    const HANDLE process = static_cast<HANDLE>(state_->process);
    state_->process = nullptr;
    DWORD code = 0;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code)) {
        exit.Error = SystemError(GetLastError());
    } else {
        exit.Waited = true;
        exit.Code = static_cast<int>(code);
    }
    CloseHandle(process);
    if (state_->pipes && state_->pipes->control) {
        CloseHandle(state_->pipes->control);
        state_->pipes->control = nullptr;
    }
    return exit;
}

}  // namespace tolm::cli
