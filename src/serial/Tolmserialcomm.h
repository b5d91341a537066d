#pragma once
// The one serial object the rest of the system talks to: ports by number,
// plain sends, send-and-wait exchanges, and delivery of unsolicited data to
// OnReceiveData on the main thread.
//
// Threads. The component belongs to the program's main thread
// (toolkit/MainThread.h): every call below comes from it, except
// RequestStop, StopRequested and AnyPortOpen, which any thread may make. Its
// own threads, started while a port is open and ended before the last port
// closes, are the port-polling thread, the reply-watch thread and the
// delivery thread; none of them calls back into the caller except
// OnModemStateChange and OnReceiveError, which run on the port-polling
// thread and must only note what they get. OnReceiveData runs on the main
// thread, handed over by the delivery thread. The devices it opens follow
// the thread rules of platform/Serialdevice.h.
//
// Every transfer of the program goes through here, so the component also
// keeps the computer from sleeping or shutting down during one
// (platform/Sleepguard.h): from the first byte it sends on a port until that
// port is closed, however the transfer ended (passed, failed, stopped, the
// component destroyed).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/Serialdevice.h"
#include "serial/Receivepacket.h"
#include "toolkit/ByteBuffer.h"

namespace tolm {

class TTolmSerialCommImpl;

// How the component's polling threads wait between passes.
enum class TPollingMode {
    // poll(2) on the open ports and a wake-up descriptor, bounded by the pass
    // period: a waiting exchange wakes as soon as its reply is complete, and
    // unsolicited data is queued once the line has gone quiet (Arrivalwatch.h).
    Events,
    // A fixed sleep of one pass period: an exchange wakes at the first pass
    // that sees a byte, and unsolicited data is queued as each pass finds it.
    Sleep,
};

// The mode a new component starts in: Sleep when the environment variable
// TOLM_SERIAL_POLLING is "sleep" (for comparing with the fixed passes), else Events.
TPollingMode DefaultPollingMode();

class TTolmSerialComm {
public:
    TTolmSerialComm();
    ~TTolmSerialComm();  // closes every listed port and stops the threads
    TTolmSerialComm(const TTolmSerialComm&) = delete;
    TTolmSerialComm& operator=(const TTolmSerialComm&) = delete;

    // Opening and closing.
    int OpenComPort(int port, const std::string& settings);  // 0, -1, -2, -3
    // Why the last OpenComPort returned -2: the errno value of the device's
    // open (EACCES when its permissions shut this account out); 0 otherwise.
    int LastOpenError() const;
    int CloseComPort(int port);                              // 0, -1, -2
    int ComSettings(int port, const std::string& settings);  // always 1
    int GetSerialComIsOpen(int port);                        // 1 open here, 0 free, 2 absent or in use
    void SetSettings(const std::string& settings);
    const std::string& Settings() const;
    void SetRTS_CTS(bool on);
    bool RTS_CTS() const;

    // Sending without waiting: 0 sent; -1 no driver; -2 not listed; -3 write failed.
    int SendString(int port, const std::string& data);
    int SendByte(int port, const TByteBuffer& data);
    int SendByte(int port, const TByteBuffer& data, int count);

    // Send-and-wait exchanges: the reply is what waits when the caller is woken,
    // or empty on time-out. expectedLength (0 = not stated) lets the exchange
    // wake as soon as that many bytes wait and the line has been quiet for two
    // character times, instead of after the settle gap; it never changes
    // which bytes are returned.
    TByteBuffer SendByteReceiveByte(int port, const TByteBuffer& data, int timeoutMs, int expectedLength = 0);
    std::string SendByteReceiveString(int port, const TByteBuffer& data, int timeoutMs);
    TByteBuffer SendStringReceiveByte(int port, const std::string& data, int timeoutMs);
    std::string SendStringReceiveString(int port, const std::string& data, int timeoutMs);
    TByteBuffer SendByteReceiveByte_SetReadSettings(int port, const TByteBuffer& data, int timeoutMs,
                                                    const std::string& settings);
    TByteBuffer ReceiveByte(int port, int timeoutMs);

    // Line and buffer control.
    void ClearBuffer(int port);
    void SetRs232Info(int port, const std::string& keyword);
    bool GetRs232Info(int port, const std::string& lineName);

    // Port discovery: "COMn||readable name" entries joined by ",", in port order.
    std::string GetComPort();

    int Packet_Count() const;

    // Driver name of a port: "TolmSerialCommPort" + n.
    static std::string DriverName(int port);
    // True while a driver for the port exists (the port is open in this component).
    bool HasDriver(int port) const;
    // True while the port-polling and delivery threads run (some port is open).
    bool PollingThreadsRunning() const;
    // Error mask of the last status query made by a polling pass.
    uint32_t ErrorWord() const;

    // Asks a running upgrade to stop (a window closed, SIGINT): the exchange
    // in progress finishes, and from then on every send and exchange fails at
    // once, so the sequence ends with its failure result. Safe from any
    // thread (one atomic store); never undone.
    void RequestStop();
    bool StopRequested() const;
    // True while some port is open in this component (any thread).
    bool AnyPortOpen() const;
    // One pass of the port's driver poll, now, as its receive thread runs it
    // every 100 ms; lets tests place a pass exactly.
    void RunDriverPoll(int port);
    // The device each port opened from now on gets (default: the system's device
    // through the port map). For tests and emulated lines.
    void SetDeviceFactory(TSerialDeviceFactory factory);

    // How the polling threads wait (DefaultPollingMode() at construction).
    // Takes effect for threads started afterwards: set it while no port is open.
    void SetPollingMode(TPollingMode mode);
    TPollingMode PollingMode() const;
    // Upper bound of every polling thread's wait, 100 ms. Tests lengthen it to
    // tell a wake-up from a pass that merely came round.
    void SetPassPeriodMs(int ms);
    int PassPeriodMs() const;
    // The clock the quiet-line rules measure with (the machine's by default);
    // tests move a fake one to decide when a line counts as quiet. The clock
    // must outlive the component's open ports.
    void SetSettleClock(IClock* clock);

    // Events. OnReceiveData runs on the main thread with a record valid for the call.
    std::function<void(TReceivePacket*)> OnReceiveData;
    std::function<void(TTolmSerialComm*, uint32_t)> OnReceiveError;
    std::function<void(TTolmSerialComm*, uint32_t)> OnModemStateChange;

private:
    std::unique_ptr<TTolmSerialCommImpl> impl_;
};

}  // namespace tolm
