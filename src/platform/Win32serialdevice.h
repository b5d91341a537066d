#pragma once
// A COM port through the Win32 serial calls: CreateFileA on "\\.\COMn",
// overlapped, held exclusively; SetupComm, PurgeComm, BuildCommDCBA and
// SetCommState, SetCommTimeouts, ClearCommError for the error mask and the
// bytes waiting, ReadFile and WriteFile, EscapeCommFunction and
// GetCommModemStatus.
//
// Input is watched by a thread of the device that keeps a WaitCommEvent
// (EV_RXCHAR) pending and signals the event of PollDescriptor() while bytes
// wait, so a polling thread sleeps on that event instead of asking at
// intervals, and nothing ever waits in a timed read (under Wine a ReadFile
// with time-outs waits out the whole time-out). A wait that ended for bytes
// is armed again once they have been taken (Wine ends a wait at once while
// bytes wait unread). Wine ends every wait at once on a line without
// modem-status lines (a pseudo-terminal); on a driver that does so, the
// watcher looks at the status instead, every millisecond while a reply may be
// due and every 10 ms otherwise.
//
// Every wait ends within a bound. Close ends a pending WaitCommEvent with
// SetCommMask(port, 0), which real drivers and Wine honour at once, and then
// CancelIoEx; the watcher is waited for with a time-out. A driver that still
// holds the wait has it ended by closing the handle, which is said on stderr.
// Reads and writes that outlast their time-outs are cancelled, and after that
// purged; one that a driver holds even then marks the line as gone.
//
// A pulled adapter ends pending operations with ERROR_ACCESS_DENIED,
// ERROR_OPERATION_ABORTED, ERROR_BAD_COMMAND, ERROR_GEN_FAILURE,
// ERROR_DEVICE_REMOVED or the like; when the status query then fails as
// well the line has hung up: reads and status queries fail from then on, as
// on POSIX. Status queries, reads and writes may come from two threads at
// once; Close waits for a read or write in progress to end.
//
// While a port is open the system's timer runs at 1 ms (timeBeginPeriod),
// which the settle rules of the serial component need; it is given back at
// Close.
//
// The header keeps <windows.h> out: its macros would clash with the flag
// names of Serialdevice.h.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Serialdevice.h"

namespace tolm {

// The name of the mutex that marks a COM port as held by a program of ours
// ("tolm-upgrade-COM7" for "\\.\COM7"). Windows refuses a second open of a
// COM port by itself; Wine does not, so the device holds this mutex too, and
// the port state tells it apart from a free port.
std::wstring PortLockName(const std::string& devicePath);

// The settings text BuildCommDCBA takes for a line: "115200,n,8,1".
std::string CommSettingsText(const TLineSettings& line);

// True for the errors with which Windows's serial drivers end an operation on
// an adapter that was pulled (the status query then tells for sure).
bool IsRemovalError(unsigned long error);

class Win32SerialDevice : public ISerialDevice {
public:
    Win32SerialDevice() = default;
    ~Win32SerialDevice() override;
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    // openError: ENOENT no such port, EBUSY held by another program, ENOTTY
    // not a serial port, EIO anything else.
    bool Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override { return port_.load() != nullptr; }
    int OpenError() const override { return openError_; }

    bool SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) override;
    bool Purge(uint32_t flags) override;
    bool SetLineState(const TLineSettings& settings, bool rtsCts) override;
    bool SetTimeouts(const TCommTimeouts& timeouts) override;
    TCommTimeouts Timeouts() const override;

    bool QueryStatus(TCommStatus& status) override;
    int Read(uint8_t* buffer, int count) override;
    int WriteSome(const uint8_t* data, int count) override;
    bool WaitWritable(int ms) override;
    int OutputQueued() override;

    bool LineAction(TLineAction action) override;
    bool ModemStatus(uint32_t& bits) override;
    int PollDescriptor() const override;

    // True once the line has hung up (the adapter was pulled).
    bool HungUp() const { return hungUp_.load(); }

private:
    using Handle = void*;
    struct Status {
        bool ok = false;
        uint32_t inQueue = 0;
        uint32_t outQueue = 0;
    };
    // ClearCommError under the lock; keeps the errors it takes for the next QueryStatus.
    Status TakeStatus();
    // Sets or resets the input event (lock held).
    void SignalInput(bool waiting);
    // After a failed call: a hang-up when the status can no longer be read.
    void NoteFailure(unsigned long error);
    // Status query for the watcher: signals the input event while bytes
    // wait; false once the line has hung up.
    bool LookAtInput(bool& waiting);
    bool InputSignalled() const;
    void WatchInput();
    // Ends the watcher's wait and waits for the watcher within a bound;
    // false when it did not end.
    bool StopWatcher(Handle port);
    // Says on stderr that the driver held an operation past every bound.
    void NoteHeld(const char* what) const;
    std::chrono::steady_clock::time_point LastWrite() const;

    std::atomic<Handle> port_{nullptr};
    std::string path_;
    Handle portLock_ = nullptr;     // the named mutex of PortLockName
    Handle inputEvent_ = nullptr;   // signalled while input bytes wait
    Handle takenEvent_ = nullptr;   // set when waiting bytes have been taken: the watcher arms its wait again
    Handle stopEvent_ = nullptr;    // ends the watcher
    Handle watcherDone_ = nullptr;  // set by the watcher as it ends
    Handle readEvent_ = nullptr;
    Handle writeEvent_ = nullptr;
    std::thread watcher_;
    std::atomic<bool> watchStuck_{false};  // the driver did not end the watcher's wait
    std::atomic<bool> hungUp_{false};
    std::atomic<std::chrono::steady_clock::rep> lastWrite_{0};  // when the last write began
    bool fineTimer_ = false;  // timeBeginPeriod(1) taken at Open
    int openError_ = 0;       // set by Open only, on the opening thread

    mutable std::mutex mutex_;  // guards the status query and the fields below
    uint32_t pendingErrors_ = 0;  // CE_ flags taken by the watcher, not yet reported
    bool inputSignalled_ = false;
    TCommTimeouts timeouts_;
    std::mutex readMutex_, writeMutex_;  // one overlapped read and one write at a time
};

}  // namespace tolm
