// Included before <windows.h>, whose macros of the same names (CE_FRAME,
// PURGE_RXCLEAR, MS_CTS_ON, ...) carry the same values.
#include "platform/Win32serialdevice.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cwctype>

#include "toolkit/Win32text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>  // timeBeginPeriod

namespace tolm {

namespace {

constexpr uint32_t kLineErrors = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK;
// A read only ever asks for bytes that already wait, so it ends at once; a
// driver that holds it anyway is given the read interval and this much more.
constexpr DWORD kReadGraceMs = 100;
// A write ends by the write time-outs of the port; one that a driver holds
// past them is cancelled after this grace.
constexpr DWORD kWriteGraceMs = 200;
// Until time-outs are set, a write is bounded as the port's would be.
constexpr DWORD kDefaultWriteConstantMs = 500;
constexpr DWORD kDefaultWritePerByteMs = 5;
// How long a driver is given to end an operation once it is cancelled (and
// then once more after a purge), and to end the watcher's wait at Close.
constexpr DWORD kCancelBoundMs = 1000;
constexpr DWORD kStopBoundMs = 2000;
// A driver that holds an operation past its cancel and a purge is given this
// long more before the operation is given up for lost.
constexpr DWORD kHeldBoundMs = 5000;
// The watcher's waits are cut into slices of this length, so none is endless.
constexpr DWORD kWaitSliceMs = 1000;
// While bytes wait unread, the watcher looks again this often when the event
// that says they were taken does not come.
constexpr DWORD kTakenLookMs = 50;
// A driver that ends this many waits in a row without an event or bytes does
// not tell arrivals; the watcher then looks at the status: every kReplyLookMs
// within kReplyLookSpan of a write (a reply's time-out is 1000 ms), else every
// kIdleLookMs (unsolicited data such as an announcement).
constexpr int kEmptyWaitsToLook = 3;
constexpr auto kReplyLookSpan = std::chrono::milliseconds(1500);
constexpr DWORD kReplyLookMs = 1;
constexpr DWORD kIdleLookMs = 10;

HANDLE AsHandle(void* h) { return static_cast<HANDLE>(h); }

int OpenErrorOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY: return EBUSY;
        default: return EIO;
    }
}

char ParityLetter(TParity parity) {
    switch (parity) {
        case TParity::None: return 'n';
        case TParity::Even: return 'e';
        case TParity::Odd: return 'o';
        case TParity::Mark: return 'm';
        case TParity::Space: return 's';
    }
    return 'n';
}

const char* StopBitsText(TStopBits stop) {
    switch (stop) {
        case TStopBits::One: return "1";
        case TStopBits::OneAndHalf: return "1.5";
        case TStopBits::Two: return "2";
    }
    return "1";
}

// How an overlapped read or write ended.
struct TIoEnd {
    int moved = -1;     // the bytes moved, or -1 when it failed before moving any
    DWORD error = 0;    // why it failed or was cut short
    bool held = false;  // the driver kept it past its cancel and a purge
};

// Runs an overlapped operation to its end: at once, or within limitMs, after
// which it is cancelled; a driver that keeps it after the cancel has it
// purged. What moved until it ended counts.
TIoEnd FinishOverlapped(HANDLE port, OVERLAPPED& ov, BOOL started, DWORD moved, DWORD limitMs) {
    TIoEnd end;
    if (started) {
        end.moved = static_cast<int>(moved);
        return end;
    }
    end.error = GetLastError();
    if (end.error != ERROR_IO_PENDING) return end;
    if (WaitForSingleObject(ov.hEvent, limitMs) != WAIT_OBJECT_0) {
        CancelIoEx(port, &ov);
        if (WaitForSingleObject(ov.hEvent, kCancelBoundMs) != WAIT_OBJECT_0) {
            PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT);
            if (WaitForSingleObject(ov.hEvent, kCancelBoundMs) != WAIT_OBJECT_0) {
                end.held = true;
                // The operation still uses its buffer: it is given a last
                // while to end before it is given up for lost.
                if (WaitForSingleObject(ov.hEvent, kHeldBoundMs) != WAIT_OBJECT_0) {
                    end.error = WAIT_TIMEOUT;
                    return end;
                }
            }
        }
    }
    DWORD done = 0;
    if (GetOverlappedResult(port, &ov, &done, FALSE)) {
        end.error = 0;
        end.moved = static_cast<int>(done);
        return end;
    }
    end.error = GetLastError();
    end.moved = done > 0 ? static_cast<int>(done) : -1;
    return end;
}

// The watcher's WaitCommEvent: its block lives apart from the watcher's
// stack, so that a driver that never ends the wait may keep it.
struct TCommWait {
    OVERLAPPED ov{};
    DWORD mask = 0;
};

// Ends a pending WaitCommEvent: SetCommMask(port, 0) ends it at once on
// Windows's drivers and under Wine, CancelIoEx on drivers that hold it as an
// ordinary request. True when it ended within the bound.
bool EndWait(HANDLE port, TCommWait& wait) {
    SetCommMask(port, 0);
    CancelIoEx(port, &wait.ov);
    return WaitForSingleObject(wait.ov.hEvent, kCancelBoundMs) == WAIT_OBJECT_0;
}

}  // namespace

bool IsRemovalError(unsigned long error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED: return true;
        default: return false;
    }
}

std::unique_ptr<ISerialDevice> MakeSerialDevice() { return std::make_unique<Win32SerialDevice>(); }

std::wstring PortLockName(const std::string& devicePath) {
    const size_t slash = devicePath.find_last_of("\\/");
    std::wstring name = Utf8ToWide(slash == std::string::npos ? devicePath : devicePath.substr(slash + 1));
    for (auto& c : name) c = static_cast<wchar_t>(std::towupper(c));
    return L"Global\\tolm-upgrade-" + name;
}

std::string CommSettingsText(const TLineSettings& line) {
    return std::to_string(line.BaudRate) + "," + ParityLetter(line.Parity) + "," + std::to_string(line.DataBits) + "," +
           StopBitsText(line.StopBits);
}

Win32SerialDevice::~Win32SerialDevice() { Close(); }

bool Win32SerialDevice::Open(const std::string& path) {
    Close();
    openError_ = ENOENT;
    if (path.empty()) return false;
    hungUp_ = false;
    watchStuck_ = false;

    HANDLE lock = CreateMutexW(nullptr, FALSE, PortLockName(path).c_str());
    if (lock && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(lock);
        openError_ = EBUSY;
        return false;
    }
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        openError_ = OpenErrorOf(GetLastError());
        if (lock) CloseHandle(lock);
        return false;
    }
    // Only a serial port has a line state; a file or another device is not a port.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb) || !SetCommMask(port, EV_RXCHAR)) {
        openError_ = ENOTTY;
        CloseHandle(port);
        if (lock) CloseHandle(lock);
        return false;
    }
    openError_ = 0;
    path_ = path;
    portLock_ = lock;
    fineTimer_ = timeBeginPeriod(1) == TIMERR_NOERROR;
    inputEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    takenEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watcherDone_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    readEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        std::lock_guard guard(mutex_);
        pendingErrors_ = 0;
        timeouts_ = {};
        inputSignalled_ = false;
    }
    port_ = port;
    watcher_ = std::thread([this] { WatchInput(); });
    return true;
}

bool Win32SerialDevice::StopWatcher(Handle port) {
    SetEvent(AsHandle(stopEvent_));
    // Ends a pending WaitCommEvent at once; CancelIoEx also ends a read or
    // write in progress on another thread.
    SetCommMask(AsHandle(port), 0);
    CancelIoEx(AsHandle(port), nullptr);
    if (WaitForSingleObject(AsHandle(watcherDone_), kStopBoundMs) != WAIT_OBJECT_0) return false;
    watcher_.join();  // it has ended its work and returns at once
    return true;
}

void Win32SerialDevice::NoteHeld(const char* what) const {
    const std::string note = "tolm-upgrade: " + path_ + ": the driver held " + what +
                             " past every bound; the port is closed to end it\n";
    std::fputs(note.c_str(), stderr);
    OutputDebugStringW(Utf8ToWide(note).c_str());
}

void Win32SerialDevice::Close() {
    HANDLE port = AsHandle(port_.exchange(nullptr));
    if (!port) return;
    const bool watcherEnded = StopWatcher(port);
    // A read or write in progress was cancelled above and ends within its bounds.
    { std::scoped_lock io(readMutex_, writeMutex_); }
    if (!watcherEnded || watchStuck_) NoteHeld("a wait for input");
    CloseHandle(port);  // the last resort for a wait the driver kept: its handle goes
    bool detached = false;
    if (!watcherEnded) {
        if (WaitForSingleObject(AsHandle(watcherDone_), kStopBoundMs) == WAIT_OBJECT_0) {
            watcher_.join();
        } else {
            // Never waited for without end: the thread keeps its events.
            watcher_.detach();
            detached = true;
        }
    }
    // A thread still asleep on the input event wakes now and finds the port gone.
    SetEvent(AsHandle(inputEvent_));
    for (Handle* h : {&inputEvent_, &takenEvent_, &stopEvent_, &watcherDone_, &readEvent_, &writeEvent_, &portLock_}) {
        const bool watcherOwns = detached && (h == &takenEvent_ || h == &stopEvent_ || h == &watcherDone_);
        if (*h && !watcherOwns) CloseHandle(AsHandle(*h));
        *h = nullptr;
    }
    if (fineTimer_) timeEndPeriod(1);
    fineTimer_ = false;
}

bool Win32SerialDevice::SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) {
    HANDLE port = AsHandle(port_.load());
    return port && SetupComm(port, inputBytes, outputBytes);
}

bool Win32SerialDevice::Purge(uint32_t flags) {
    HANDLE port = AsHandle(port_.load());
    return port && PurgeComm(port, flags & (PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
}

bool Win32SerialDevice::SetLineState(const TLineSettings& settings, bool rtsCts) {
    HANDLE port = AsHandle(port_.load());
    if (!port) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return false;
    // The parser sets speed and framing and switches both kinds of flow control off.
    if (!BuildCommDCBA(CommSettingsText(settings).c_str(), &dcb)) return false;
    dcb.fBinary = TRUE;
    dcb.fNull = FALSE;  // NUL bytes are delivered
    if (rtsCts) {
        dcb.fOutxCtsFlow = TRUE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    return SetCommState(port, &dcb);
}

bool Win32SerialDevice::SetTimeouts(const TCommTimeouts& timeouts) {
    HANDLE port = AsHandle(port_.load());
    if (!port) return false;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    if (!SetCommTimeouts(port, &t)) return false;
    std::lock_guard guard(mutex_);
    timeouts_ = timeouts;
    return true;
}

TCommTimeouts Win32SerialDevice::Timeouts() const {
    HANDLE port = AsHandle(port_.load());
    COMMTIMEOUTS t{};
    if (port && GetCommTimeouts(port, &t))
        return {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    std::lock_guard guard(mutex_);
    return timeouts_;
}

Win32SerialDevice::Status Win32SerialDevice::TakeStatus() {
    Status status;
    HANDLE port = AsHandle(port_.load());
    if (!port || hungUp_) return status;
    DWORD errors = 0;
    COMSTAT comstat{};
    if (!ClearCommError(port, &errors, &comstat)) {
        // A status that cannot be read is a line that has gone.
        hungUp_ = true;
        return status;
    }
    pendingErrors_ |= errors & kLineErrors;
    status.ok = true;
    status.inQueue = comstat.cbInQue;
    status.outQueue = comstat.cbOutQue;
    return status;
}

void Win32SerialDevice::SignalInput(bool waiting) {
    // Only changes are passed on: each call on an event is a call to Wine's server.
    if (waiting == inputSignalled_) return;
    inputSignalled_ = waiting;
    if (waiting) {
        SetEvent(AsHandle(inputEvent_));
    } else {
        ResetEvent(AsHandle(inputEvent_));
        SetEvent(AsHandle(takenEvent_));  // the watcher may wait for arrivals again
    }
}

void Win32SerialDevice::NoteFailure(unsigned long error) {
    if (!IsRemovalError(error)) return;
    std::lock_guard guard(mutex_);
    TakeStatus();  // marks the hang-up when the status is gone too
}

bool Win32SerialDevice::QueryStatus(TCommStatus& status) {
    status = {};
    std::lock_guard guard(mutex_);
    const Status now = TakeStatus();
    if (!now.ok) return false;
    status.BytesWaiting = now.inQueue;
    status.Errors = pendingErrors_;
    pendingErrors_ = 0;
    // The event tells whether bytes wait, as of this query.
    SignalInput(now.inQueue > 0);
    return true;
}

int Win32SerialDevice::Read(uint8_t* buffer, int count) {
    HANDLE port = AsHandle(port_.load());
    if (!port || count < 0 || hungUp_) return -1;
    if (count == 0) return 0;
    std::lock_guard guard(readMutex_);
    DWORD interval = 0;
    {
        std::lock_guard lock(mutex_);  // as last set: asking the port costs a call to Wine's server
        interval = timeouts_.ReadIntervalTimeout;
    }
    OVERLAPPED ov{};
    ov.hEvent = AsHandle(readEvent_);  // ReadFile resets it as the read begins
    DWORD got = 0;
    BOOL done = ReadFile(port, buffer, static_cast<DWORD>(count), &got, &ov);
    const TIoEnd end = FinishOverlapped(port, ov, done, got, (interval == MAXDWORD ? 0 : interval) + kReadGraceMs);
    if (end.held) {
        NoteHeld("a read");
        hungUp_ = true;
    }
    if (end.moved < 0) NoteFailure(end.error);
    return end.moved;
}

int Win32SerialDevice::WriteSome(const uint8_t* data, int count) {
    HANDLE port = AsHandle(port_.load());
    if (!port || count < 0 || hungUp_) return -1;
    if (count == 0) return 0;
    std::lock_guard guard(writeMutex_);
    lastWrite_ = std::chrono::steady_clock::now().time_since_epoch().count();
    DWORD constant = kDefaultWriteConstantMs, perByte = kDefaultWritePerByteMs;
    {
        std::lock_guard lock(mutex_);
        if (timeouts_.WriteTotalTimeoutConstant || timeouts_.WriteTotalTimeoutMultiplier) {
            constant = timeouts_.WriteTotalTimeoutConstant;
            perByte = timeouts_.WriteTotalTimeoutMultiplier;
        }
    }
    OVERLAPPED ov{};
    ov.hEvent = AsHandle(writeEvent_);  // WriteFile resets it as the write begins
    DWORD put = 0;
    BOOL done = WriteFile(port, data, static_cast<DWORD>(count), &put, &ov);
    const TIoEnd end =
        FinishOverlapped(port, ov, done, put, constant + perByte * static_cast<DWORD>(count) + kWriteGraceMs);
    if (end.held) {
        NoteHeld("a write");
        hungUp_ = true;
    }
    if (end.moved >= 0) return end.moved;
    NoteFailure(end.error);
    if (hungUp_) return -1;
    // Cancelled after its time-out with nothing moved: nothing was accepted.
    return end.error == ERROR_OPERATION_ABORTED ? 0 : -1;
}

bool Win32SerialDevice::WaitWritable(int /*ms*/) {
    // A write takes what the driver accepts within its time-outs; there is no
    // queue to wait for beforehand.
    return IsOpen() && !hungUp_;
}

int Win32SerialDevice::OutputQueued() {
    std::lock_guard guard(mutex_);
    const Status now = TakeStatus();
    return now.ok ? static_cast<int>(now.outQueue) : -1;
}

bool Win32SerialDevice::LineAction(TLineAction action) {
    HANDLE port = AsHandle(port_.load());
    return port && EscapeCommFunction(port, static_cast<DWORD>(action));
}

bool Win32SerialDevice::ModemStatus(uint32_t& bits) {
    bits = 0;
    HANDLE port = AsHandle(port_.load());
    DWORD status = 0;
    if (!port || !GetCommModemStatus(port, &status)) return false;
    bits = status & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return true;
}

std::chrono::steady_clock::time_point Win32SerialDevice::LastWrite() const {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastWrite_.load()));
}

int Win32SerialDevice::PollDescriptor() const {
    // Kernel handles fit in 32 bits (HandleToLong), as the interface carries them.
    return IsOpen() && inputEvent_ ? HandleToLong(AsHandle(inputEvent_)) : -1;
}

bool Win32SerialDevice::LookAtInput(bool& waiting) {
    std::lock_guard guard(mutex_);
    const Status now = TakeStatus();
    waiting = now.ok && now.inQueue > 0;
    if (waiting) SignalInput(true);
    return now.ok;
}

bool Win32SerialDevice::InputSignalled() const {
    std::lock_guard guard(mutex_);
    return inputSignalled_;
}

void Win32SerialDevice::WatchInput() {
    using namespace std::chrono;
    HANDLE port = AsHandle(port_.load());
    HANDLE stop = AsHandle(stopEvent_);
    HANDLE taken = AsHandle(takenEvent_);
    HANDLE done = AsHandle(watcherDone_);
    auto* wait = new TCommWait;
    wait->ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto stopped = [stop] { return WaitForSingleObject(stop, 0) != WAIT_TIMEOUT; };
    int emptyWaits = 0;    // waits in a row that ended with neither an event nor bytes
    bool looking = false;  // the driver ends every wait so: look at the status instead
    while (wait->ov.hEvent && !stopped()) {
        bool waiting = false;
        if (looking) {
            if (!LookAtInput(waiting)) break;  // hung up
            // A reply follows a request: look often while one may be on its way.
            const bool replyDue = steady_clock::now() - LastWrite() < kReplyLookSpan;
            WaitForSingleObject(stop, replyDue ? kReplyLookMs : kIdleLookMs);
            continue;
        }
        if (InputSignalled()) {
            // Bytes wait unread. Wine would end a new wait at once meanwhile,
            // so the wait is armed again once they have been taken.
            const HANDLE events[2] = {stop, taken};
            if (WaitForMultipleObjects(2, events, FALSE, kTakenLookMs) == WAIT_OBJECT_0) break;
            if (!LookAtInput(waiting)) break;
            if (waiting) continue;
        }
        DWORD error = 0;
        wait->mask = 0;
        if (!WaitCommEvent(port, &wait->mask, &wait->ov)) {
            error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                const HANDLE events[2] = {wait->ov.hEvent, stop};
                DWORD r;
                while ((r = WaitForMultipleObjects(2, events, FALSE, kWaitSliceMs)) == WAIT_TIMEOUT) {
                }
                if (r != WAIT_OBJECT_0) {
                    // Stopped: the wait must end before its block may go.
                    if (!EndWait(port, *wait)) {
                        watchStuck_ = true;
                        wait = nullptr;  // kept by the driver
                    }
                    break;
                }
                DWORD unused = 0;
                error = GetOverlappedResult(port, &wait->ov, &unused, FALSE) ? 0 : GetLastError();
            }
        }
        if (stopped()) break;
        // The wait may end for the bytes, or be ended by the driver: the status tells.
        if (!LookAtInput(waiting)) break;  // hung up
        // Wine ends every wait on a line without modem-status lines (a
        // pseudo-terminal) at once; arming it again and again would take a
        // third of a processor.
        emptyWaits = wait->mask == 0 && !waiting ? emptyWaits + 1 : 0;
        if (emptyWaits >= kEmptyWaitsToLook || (error != 0 && error != ERROR_IO_PENDING && !IsRemovalError(error)))
            looking = true;
    }
    if (wait) {
        if (wait->ov.hEvent) CloseHandle(wait->ov.hEvent);
        delete wait;
    }
    SetEvent(done);
}

}  // namespace tolm
