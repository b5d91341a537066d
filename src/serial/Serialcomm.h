#pragma once
// TSerialComm drives one serial port: it opens the port by number with a
// settings string, writes text or bytes, reads whatever has arrived, and while
// the port is open polls it every 100 ms (its TMyThread asks the main thread to
// run ProcTimer) and raises events when data or line errors are present.
//
// Threads: everything runs on the main thread except ReadReceivePacket and
// QueryStatus, which the multi-port component also calls from its polling
// thread under its own lock. The driver therefore keeps the values a status
// query writes atomic and leaves the rest to that lock.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/Serialdevice.h"
#include "platform/Serialsettings.h"
#include "serial/Receivepacket.h"
#include "toolkit/ByteBuffer.h"
#include "toolkit/Thread.h"

namespace tolm {

class TSerialComm;

// Receive thread of a driver: every pass asks the main thread to run the
// driver's ProcTimer and waits for it, then waits for the next pass.
class TMyThread : public TThread {
public:
    static constexpr int kPollPeriodMs = 100;
    explicit TMyThread(TSerialComm* comm) : comm_(comm) {}
    ~TMyThread() override;

protected:
    void Execute() override;
    // The pause between two passes.
    virtual void WaitForNextPass();

private:
    TSerialComm* comm_;
};

class TSerialComm {
public:
    static constexpr uint32_t kQueueSize = 5120;  // input and output queue, and the largest read
    static constexpr uint32_t kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    static constexpr uint32_t kReadIntervalTimeoutMs = 100;
    static inline const std::string kDefaultSettings = "115200,n,8,1";
    static inline const std::string kNotOpenMessage = "COM Port is not opened yet!";

    // The factory makes the device for a port number (the system's device by
    // default); the clock measures write deadlines (the machine's by default).
    explicit TSerialComm(std::string name = {}, TSerialDeviceFactory factory = {}, IClock* clock = nullptr);
    ~TSerialComm();  // closes the port
    TSerialComm(const TSerialComm&) = delete;
    TSerialComm& operator=(const TSerialComm&) = delete;

    const std::string& Name() const { return name_; }

    // 0 opened; -1 the device cannot be opened or its settings are rejected;
    // -2 the queue sizes cannot be set.
    int OpenPort(int port);
    // Why the last OpenPort failed to open the device, as an errno value
    // (EACCES: permissions); 0 when it opened or the reason is unknown.
    int OpenError() const { return openError_; }
    // Closes the device and ends the receive thread; nothing on a closed driver.
    void ClosePort();
    // The port counts as open exactly while the device handle exists.
    bool IsOpen() const { return device_ != nullptr; }
    // The open device's descriptor for poll(2), or -1 (closed, or a device without one).
    int PollDescriptor() const { return device_ ? device_->PollDescriptor() : -1; }
    // The speed and framing in force on the open port; none while closed.
    const std::optional<TLineSettings>& LineSettings() const { return line_; }

    // Settings string and hardware handshake; applied at once to an open port.
    void SetSettings(const std::string& settings);
    const std::string& Settings() const { return settings_; }
    void SetRTS_CTS(bool on);
    bool RTS_CTS() const { return rtsCts_; }
    // Applies Settings and RTS_CTS to the open port: 0, or -1 when the
    // settings string is rejected (the port is then closed).
    int _SetCommState();

    // Line actions by keyword ("SETDTR", "CLRRTS", ...); other texts do nothing.
    void SetRs232Info(const std::string& keyword);
    // True when the named modem-status line ("CTS", "DSR", "RI", "CD") is on.
    bool GetRs232Info(const std::string& lineName);

    int ReadComPort() const { return port_; }
    // Bytes waiting in the input queue (the error word is left alone).
    uint32_t ReadInDataCount();
    // 0 empties the input queue; any other value does nothing.
    void SetInDataCount(uint32_t n);
    // Status query: stores the error mask in the error word and returns it
    // together with the count of bytes waiting. All zero on a closed port.
    TCommStatus QueryStatus();

    // One read of exactly the bytes waiting into the received text and bytes.
    // When nothing new can be delivered (nothing waits, more than the queue
    // size waited and was purged, or the read failed) both are left empty.
    void ReadProcess();
    // ReadProcess, then fills the receive packet.
    void ReadReceivePacket();
    const TReceivePacket& ReceivePacket() const { return packet_; }
    std::string ReadInputData();
    std::string Input() { return ReadInputData(); }
    TByteBuffer ReadInputByte();

    // True when every byte has left the port within the write time-out.
    bool OutputString(const std::string& text);
    bool OutputByte(const TByteBuffer& data);
    // The first n bytes; n beyond the buffer raises ERangeError before writing.
    bool OutputByte(const TByteBuffer& data, int n);
    // When the last written request counts as having left the port (its reply
    // time-out starts then).
    IClock::time_point LastWriteLeftPort() const { return lastWriteLeft_; }

    // One pass of the receive poll; run on the main thread by TMyThread.
    void ProcTimer();
    void ReceiveData();
    void ReceiveError(uint32_t eventMask);
    void ModemStateChange(uint32_t eventMask);

    uint32_t ErrorWord() const { return errorWord_.load(); }
    uint32_t ModemStateWord() const { return modemState_; }
    bool ReceiveThreadRunning() const { return thread_ && thread_->Running(); }

    std::function<void(TSerialComm*)> OnReceiveData;
    std::function<void(TSerialComm*, uint32_t)> OnReceiveError;
    std::function<void(TSerialComm*, uint32_t)> OnModemStateChange;

private:
    bool Write(const uint8_t* data, int count);
    void StopReceiveThread();
    void CloseDevice();

    std::string name_;
    TSerialDeviceFactory factory_;
    IClock* clock_;
    std::unique_ptr<TMyThread> thread_;
    std::array<uint8_t, kQueueSize> buffer_{};
    std::string settings_ = kDefaultSettings;
    bool rtsCts_ = false;
    int port_ = 0;
    int openError_ = 0;
    std::string receivedText_;
    TByteBuffer receivedBytes_;
    uint32_t modemState_ = 0;  // nothing in the system sets it
    std::atomic<uint32_t> errorWord_{0};
    std::unique_ptr<ISerialDevice> device_;
    std::optional<TLineSettings> line_;  // the settings in force on the open port
    IClock::time_point lastWriteLeft_{};
    TReceivePacket packet_;
    // False once the driver is destroyed: the poll's nested event processing
    // may close the port and destroy the driver while the poll is on the stack.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tolm
