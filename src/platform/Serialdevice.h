#pragma once
// What the serial logic needs of one serial device: exclusive open, queue
// sizes, purge, line state, time-outs, a status query (error mask and bytes
// waiting), read, write with an observable output queue, line actions and the
// modem status. PosixSerialDevice implements it over termios, Win32SerialDevice
// over the Win32 serial calls; tests put fakes behind the same interface.
//
// The flag values below are those of the Win32 serial calls, so the Windows
// device passes them through unchanged.
//
// Threads. A device belongs to the thread that opens it (in the program: the
// main thread, through the serial component's driver): Open, Close,
// SetQueueSizes, SetLineState, SetTimeouts, Purge and LineAction come from
// that thread alone. QueryStatus, Read, WriteSome, WaitWritable, OutputQueued
// and ModemStatus may come from two threads at once (the main thread's
// exchange and the component's polling threads); each implementation guards
// what they share. Close may come while another thread is inside one of
// those calls: it waits for that call to end, within a bound, and the call
// then fails. PollDescriptor stays valid from Open to Close and is only
// waited on, never read from, by other threads.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Serialsettings.h"

namespace tolm {

// Purge flags, combined with |.
enum : uint32_t {
    PURGE_TXABORT = 0x0001,
    PURGE_RXABORT = 0x0002,
    PURGE_TXCLEAR = 0x0004,
    PURGE_RXCLEAR = 0x0008,
};

// Line errors reported by the status query, combined with |.
enum : uint32_t {
    CE_RXOVER = 0x0001,    // input queue overflow
    CE_OVERRUN = 0x0002,   // character overrun in the UART
    CE_RXPARITY = 0x0004,  // parity error
    CE_FRAME = 0x0008,     // framing error
    CE_BREAK = 0x0010,     // break received
};

// Modem status bits.
enum : uint32_t {
    MS_CTS_ON = 0x0010,
    MS_DSR_ON = 0x0020,
    MS_RING_ON = 0x0040,
    MS_RLSD_ON = 0x0080,  // carrier detect
};

// Line actions; the values are the classic escape-function codes.
enum class TLineAction {
    SetXoff = 1,   // behave as if XOFF was received: hold output
    SetXon = 2,    // behave as if XON was received: resume output
    SetRts = 3,
    ClrRts = 4,
    SetDtr = 5,
    ClrDtr = 6,
    SetBreak = 8,
    ClrBreak = 9,
};

// Read and write time-outs in milliseconds.
struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;  // longest gap between two bytes of one read
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;  // per byte
    uint32_t WriteTotalTimeoutConstant = 0;
};

struct TCommStatus {
    uint32_t Errors = 0;        // CE_ flags raised since the last query
    uint32_t BytesWaiting = 0;  // bytes in the input queue
};

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // Opens an existing device for reading and writing, held exclusively.
    // False when it is absent, not a serial line, or held by someone else.
    virtual bool Open(const std::string& path) = 0;
    // Why the last Open failed, as an errno value (EACCES: the permissions
    // shut this account out; EBUSY: held by someone else); 0 after a
    // successful Open or when the device cannot tell.
    virtual int OpenError() const { return 0; }
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual bool SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) = 0;
    virtual bool Purge(uint32_t flags) = 0;
    // Applies speed and framing, raw binary transfer (NUL bytes delivered, no
    // software flow control) and, when rtsCts, RTS/CTS hardware handshake.
    // Takes effect at once, without emptying the queues.
    virtual bool SetLineState(const TLineSettings& settings, bool rtsCts) = 0;
    virtual bool SetTimeouts(const TCommTimeouts& timeouts) = 0;
    virtual TCommTimeouts Timeouts() const = 0;

    // Errors since the previous query and the bytes waiting. False when the
    // device can no longer be queried (status then all zero).
    virtual bool QueryStatus(TCommStatus& status) = 0;

    // Reads up to count bytes, returning once count have come or the line
    // stays quiet for longer than the read interval time-out. Returns the count
    // read (0 from a line that stayed idle), or -1 when the read failed or the
    // line hung up with nothing read.
    virtual int Read(uint8_t* buffer, int count) = 0;

    // Hands as many bytes as the output queue takes now to the device without
    // blocking: the count accepted (0 when the queue is full), or -1 on error.
    virtual int WriteSome(const uint8_t* data, int count) = 0;
    // Waits at most ms for room in the output queue; false on time-out.
    virtual bool WaitWritable(int ms) = 0;
    // Bytes accepted but not yet sent, or -1 when the device cannot tell.
    virtual int OutputQueued() = 0;

    virtual bool LineAction(TLineAction action) = 0;
    // MS_ flags of the modem-status lines; false when they cannot be read.
    virtual bool ModemStatus(uint32_t& bits) = 0;

    // What a thread can sleep on until input bytes wait, instead of asking at
    // intervals: a descriptor that poll(2) reports readable (POSIX), or an
    // event handle, as a 32-bit value, that is signalled while bytes wait
    // (Windows); -1 when the device has none (it is then asked at short intervals).
    virtual int PollDescriptor() const { return -1; }
};

// Makes the device object for a port number (the driver then opens it).
using TSerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>(int port)>;

// The serial device of this system: a termios line (Posixserialdevice.h) or a
// Win32 COM port (Win32serialdevice.h).
std::unique_ptr<ISerialDevice> MakeSerialDevice();

}  // namespace tolm
