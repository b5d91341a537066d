#pragma once
// A serial line on a POSIX terminal device. Open is exclusive (O_NOCTTY,
// TIOCEXCL and an flock on the device), the line runs raw, bytes waiting come
// from FIONREAD, line errors from TIOCGICOUNT differences where the driver
// keeps those counters, line actions from TIOCMBIS/TIOCMBIC/TIOCSBRK/TIOCCBRK
// and tcflow, modem status from TIOCMGET. Pseudo-terminals refuse the modem
// and error ioctls: their lines read as off and their error mask as 0.
//
// The descriptor is non-blocking so that no write can hang past its time-out.
// Status queries, reads and writes may come from two threads at once; the
// error counters they share are guarded here.
#include <termios.h>

#include <atomic>
#include <mutex>

#include "platform/Serialdevice.h"

namespace tolm {

// Puts a line's speed and framing into tio, in raw binary mode with software
// flow control off and, when rtsCts, the RTS/CTS handshake on. False for a
// speed the terminal interface has no constant for.
bool ApplyLineSettings(termios& tio, const TLineSettings& settings, bool rtsCts);

class PosixSerialDevice : public ISerialDevice {
public:
    PosixSerialDevice() = default;
    ~PosixSerialDevice() override;

    bool Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override { return fd_.load() >= 0; }
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
    int PollDescriptor() const override { return fd_.load(); }

private:
    uint32_t TakeLineErrors();

    std::atomic<int> fd_{-1};
    int openError_ = 0;  // set by Open only, on the opening thread
    mutable std::mutex mutex_;  // guards the fields below
    TCommTimeouts timeouts_;
    bool countersSupported_ = true;
    bool haveBaseline_ = false;
    struct Counters {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    } baseline_;
};

}  // namespace tolm
