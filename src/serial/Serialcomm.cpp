#include "serial/Serialcomm.h"

#include "platform/Portmap.h"
#include "serial/Linetiming.h"
#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"
#include "toolkit/Messages.h"

namespace tolm {

// ---------------------------------------------------------------- TMyThread

TMyThread::~TMyThread() {
    Terminate();
    WaitFor();
}

void TMyThread::Execute() {
    while (!Terminated()) {
        TSerialComm* comm = comm_;
        Synchronize([comm] { comm->ProcTimer(); });
        if (Terminated()) break;
        WaitForNextPass();
    }
}

void TMyThread::WaitForNextPass() { SleepFor(kPollPeriodMs); }

// -------------------------------------------------------------- TSerialComm

namespace {

struct TKeyword {
    const char* text;
    TLineAction action;
};
// Compared exactly and in this order; at most one can match.
constexpr TKeyword kLineKeywords[] = {
    {"CLRDTR", TLineAction::ClrDtr},   {"CLRRTS", TLineAction::ClrRts}, {"SETDTR", TLineAction::SetDtr},
    {"SETRTS", TLineAction::SetRts},   {"SETXOFF", TLineAction::SetXoff}, {"SETXON", TLineAction::SetXon},
    {"SETBREAK", TLineAction::SetBreak}, {"CLRBREAK", TLineAction::ClrBreak},
};

}  // namespace

TSerialComm::TSerialComm(std::string name, TSerialDeviceFactory factory, IClock* clock)
    : name_(std::move(name)),
      factory_(factory ? std::move(factory) : TSerialDeviceFactory([](int) { return MakeSerialDevice(); })),
      clock_(clock ? clock : &SystemClock()) {}

TSerialComm::~TSerialComm() {
    *alive_ = false;
    ClosePort();
}

int TSerialComm::OpenPort(int port) {
    port_ = port;
    auto device = factory_(port);
    openError_ = 0;
    const TPortResolution resolved = PortMap::ResolvePort(port);
    if (!device || !device->Open(resolved.Path)) {
        if (device) openError_ = resolved.Error ? resolved.Error : device->OpenError();
        return -1;
    }
    if (!device->SetQueueSizes(kQueueSize, kQueueSize)) {
        device->Close();
        return -2;
    }
    device_ = std::move(device);
    device_->Purge(kPurgeAll);
    if (_SetCommState() != 0) return -1;  // the device is already closed

    TCommTimeouts timeouts = device_->Timeouts();
    timeouts.ReadIntervalTimeout = kReadIntervalTimeoutMs;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutConstantMs;
    device_->SetTimeouts(timeouts);

    StopReceiveThread();
    thread_ = std::make_unique<TMyThread>(this);
    thread_->Start();
    return 0;
}

void TSerialComm::ClosePort() {
    StopReceiveThread();
    CloseDevice();
}

void TSerialComm::StopReceiveThread() {
    if (!thread_) return;
    // A stop request also ends a pass waiting for the main thread, so joining
    // here cannot deadlock even when called from inside ProcTimer.
    thread_->Terminate();
    thread_->WaitFor();
    thread_.reset();
}

void TSerialComm::CloseDevice() {
    if (!device_) return;
    device_->Close();
    device_.reset();
    line_.reset();
}

void TSerialComm::SetSettings(const std::string& settings) {
    settings_ = settings;
    if (IsOpen()) _SetCommState();
}

void TSerialComm::SetRTS_CTS(bool on) {
    rtsCts_ = on;
    if (IsOpen()) _SetCommState();
}

int TSerialComm::_SetCommState() {
    if (!IsOpen()) return -1;
    auto parsed = ParseSettings(settings_);
    if (!parsed) {
        CloseDevice();
        return -1;
    }
    // A device that refuses the line state is not reported; the port stays open.
    device_->SetLineState(*parsed, rtsCts_);
    line_ = *parsed;
    return 0;
}

void TSerialComm::SetRs232Info(const std::string& keyword) {
    if (!IsOpen()) return;
    for (const auto& k : kLineKeywords) {
        if (keyword == k.text) {
            device_->LineAction(k.action);
            return;
        }
    }
}

bool TSerialComm::GetRs232Info(const std::string& lineName) {
    if (!IsOpen()) return false;
    uint32_t bits = 0;
    if (!device_->ModemStatus(bits)) return false;
    if (lineName == "CTS") return bits & MS_CTS_ON;
    if (lineName == "DSR") return bits & MS_DSR_ON;
    if (lineName == "RI") return bits & MS_RING_ON;
    if (lineName == "CD") return bits & MS_RLSD_ON;
    return false;
}

uint32_t TSerialComm::ReadInDataCount() {
    if (!IsOpen()) return 0;
    TCommStatus status;
    device_->QueryStatus(status);
    return status.BytesWaiting;
}

void TSerialComm::SetInDataCount(uint32_t n) {
    if (n == 0 && IsOpen()) device_->Purge(PURGE_RXCLEAR);
}

TCommStatus TSerialComm::QueryStatus() {
    TCommStatus status;
    if (!IsOpen()) return status;
    device_->QueryStatus(status);
    errorWord_ = status.Errors;
    return status;
}

void TSerialComm::ReadProcess() {
    // Whatever happens below, the previous read's data is never handed out again.
    receivedText_.clear();
    receivedBytes_.SetLength(0);
    if (!IsOpen()) return;
    TCommStatus status = QueryStatus();
    if (status.BytesWaiting == 0) return;
    if (status.BytesWaiting > kQueueSize) {
        device_->Purge(PURGE_RXCLEAR);
        return;
    }
    int n = device_->Read(buffer_.data(), static_cast<int>(status.BytesWaiting));
    if (n <= 0) return;
    receivedText_.assign(reinterpret_cast<const char*>(buffer_.data()), static_cast<size_t>(n));
    receivedBytes_ = TByteBuffer(buffer_.data(), static_cast<size_t>(n));
}

void TSerialComm::ReadReceivePacket() {
    if (!IsOpen()) ShowMessage(kNotOpenMessage);
    ReadProcess();
    packet_.ComPort = port_;
    packet_.Text = receivedText_;
    packet_.Settings = settings_;
    packet_.Bytes = receivedBytes_;
    packet_.Length = static_cast<int32_t>(receivedText_.size());
}

std::string TSerialComm::ReadInputData() {
    if (!IsOpen()) ShowMessage(kNotOpenMessage);
    ReadProcess();
    return receivedText_;
}

TByteBuffer TSerialComm::ReadInputByte() {
    if (!IsOpen()) ShowMessage(kNotOpenMessage);
    ReadProcess();
    return receivedBytes_;
}

bool TSerialComm::Write(const uint8_t* data, int count) {
    if (!IsOpen()) {
        ShowMessage(kNotOpenMessage);
        return false;
    }
    TLineSettings line = line_.value_or(TLineSettings{});
    TWriteOutcome outcome = WriteUntilDrained(*device_, *clock_, data, count, line);
    lastWriteLeft_ = outcome.LeftPort;
    return outcome.Complete && outcome.Written == count;
}

bool TSerialComm::OutputString(const std::string& text) {
    return Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

bool TSerialComm::OutputByte(const TByteBuffer& data) { return Write(data.data(), data.Length()); }

bool TSerialComm::OutputByte(const TByteBuffer& data, int n) {
    // Range-checked before anything is written.
    TByteBuffer head = data.Mid(0, n);
    return Write(head.data(), head.Length());
}

void TSerialComm::ProcTimer() {
    if (!IsOpen()) return;
    // What runs inside a step (a handler, a delivery, a timer under
    // ProcessMessages) may close this port and destroy this driver; the
    // token tells whether it still lives before the next step.
    const std::shared_ptr<bool> alive = alive_;
    auto goOn = [&] { return *alive && IsOpen(); };
    try {
        TCommStatus status = QueryStatus();
        if (status.BytesWaiting > 0) ReceiveData();
        if (!*alive) return;
        ProcessMessages();
        if (!goOn()) return;
        if (modemState_ != 0) ModemStateChange(modemState_);
        if (!*alive) return;
        ProcessMessages();
        if (!goOn()) return;
        if (uint32_t errors = errorWord_.load(); errors != 0) ReceiveError(errors);
        if (!*alive) return;
        ProcessMessages();
    } catch (const Exception&) {
        // A handler's failure must not stop the poll.
    }
}

void TSerialComm::ReceiveData() {
    if (OnReceiveData) OnReceiveData(this);
}

void TSerialComm::ReceiveError(uint32_t eventMask) {
    if (OnReceiveError) OnReceiveError(this, eventMask);
}

void TSerialComm::ModemStateChange(uint32_t eventMask) {
    if (OnModemStateChange) OnModemStateChange(this, eventMask);
}

}  // namespace tolm
