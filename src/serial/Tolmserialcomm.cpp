#include "serial/Tolmserialcomm.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/Clock.h"
#include "platform/Portmap.h"
#include "platform/Sleepguard.h"
#include "serial/Arrivalwatch.h"
#include "serial/Linetiming.h"
#include "serial/Portwait.h"
#include "serial/Receivequeue.h"
#include "serial/Serialcomm.h"
#include "toolkit/Event.h"
#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"
#include "toolkit/Messages.h"
#include "toolkit/Thread.h"

namespace tolm {

namespace {
const std::string kNotListedMessage = "警告..系統發生錯誤";
const std::string kQueueFullMessage = "Packet_Count > 1000";
const std::string kDefaultSettings = "115200,n,8,1";
constexpr int kPollPeriodMs = 100;
constexpr int kReadSettingsPauseMs = 1000;
}  // namespace

TPollingMode DefaultPollingMode() {
    const char* value = std::getenv("TOLM_SERIAL_POLLING");
    return (value && std::string(value) == "sleep") ? TPollingMode::Sleep : TPollingMode::Events;
}

// One port this component opened.
struct TSerialComPort {
    int ComPort = 0;
    bool Waiting = false;    // a send-and-wait exchange or ReceiveByte is in progress
    int ExpectedLength = 0;  // reply length the waiting caller accepts; 0 not stated
    TArrivalWatch Arrival;   // how the bytes now waiting have come in
};

// What a port-watching thread waits for until its next pass.
struct TWaitPlan {
    std::vector<int> Fds;    // descriptors of ports with nothing waiting: wait for input
    std::vector<int> Ports;  // the port of each descriptor
    IClock::time_point NextCheck = IClock::time_point::max();  // look at the ports again by then
};

// Poll events of the last wait, by port.
using TPortEvents = std::map<int, short>;

// A polling thread: one pass, then a wait, until asked to stop. Stop() also
// ends the wait at once.
class TPollingThread : public TThread {
public:
    explicit TPollingThread(TTolmSerialCommImpl* impl) : impl_(impl) {}
    void Stop() {
        Terminate();
        wakeup_.Signal();
    }
    // Ends the current wait early, so that the next pass runs now.
    void Wake() { wakeup_.Signal(); }

protected:
    void Execute() override {
        while (!Terminated()) {
            Pass();
            if (Terminated()) break;
            WaitForNextPass();
        }
    }
    virtual void Pass() = 0;
    virtual void WaitForNextPass() = 0;

    TTolmSerialCommImpl* impl_;
    TWakeup wakeup_;
};

// A thread that watches the ports: the port-polling thread (every port: wakes
// a waiting exchange, queues unsolicited data) and the reply-watch thread
// (only the port a caller waits on).
class TPortWatchThread : public TPollingThread {
public:
    TPortWatchThread(TTolmSerialCommImpl* impl, bool queuesUnsolicited)
        : TPollingThread(impl), queuesUnsolicited_(queuesUnsolicited) {}

protected:
    void Pass() override;
    void WaitForNextPass() override;
    // Starts afresh, as a thread that has not waited yet: what an earlier
    // wait reported is no longer true.
    void ForgetLastWait() {
        plan_ = {};
        events_.clear();
    }

private:
    const bool queuesUnsolicited_;
    TWaitPlan plan_;
    TPortEvents events_;
};

// Port-polling thread: reads unsolicited data into the ring, wakes a waiting exchange.
class TSerialThread : public TPortWatchThread {
public:
    explicit TSerialThread(TTolmSerialCommImpl* impl) : TPortWatchThread(impl, true) {}
    ~TSerialThread() override {
        Stop();
        WaitFor();
    }
};

// Reply-watch thread: wakes the waiting caller when its reply is in. It runs
// beside the port-polling thread and watches only while an exchange waits
// (Watch), resting in between: a thread started for each exchange costs
// about a millisecond and a half under Wine, which a thousand exchanges of
// one upgrade would add up.
class TSerialReturnThread : public TPortWatchThread {
public:
    static constexpr auto kRest = std::chrono::seconds(1);
    explicit TSerialReturnThread(TTolmSerialCommImpl* impl) : TPortWatchThread(impl, false) {
        SetPriority(TThreadPriority::tpTimeCritical);
    }
    ~TSerialReturnThread() override {
        Stop();
        WaitFor();
    }
    // Starts (true) or ends (false) the watch of the exchange in progress.
    void Watch(bool on) {
        watching_ = on;
        Wake();
    }

protected:
    void Execute() override {
        while (!Terminated()) {
            if (!watching_) {
                WaitForInput({}, wakeup_, kRest);
                ForgetLastWait();
                continue;
            }
            Pass();
            if (Terminated()) break;
            if (watching_) WaitForNextPass();
        }
    }

private:
    std::atomic<bool> watching_{false};
};

// Delivery thread: has the main thread hand the ring's records to OnReceiveData.
class TSendDataEventThread : public TPollingThread {
public:
    explicit TSendDataEventThread(TTolmSerialCommImpl* impl) : TPollingThread(impl) {}
    ~TSendDataEventThread() override {
        Stop();
        WaitFor();
    }

protected:
    void Pass() override;
    void WaitForNextPass() override;
};

class TTolmSerialCommImpl {
public:
    explicit TTolmSerialCommImpl(TTolmSerialComm& owner) : owner_(owner) {}
    ~TTolmSerialCommImpl() { Shutdown(); }

    // Everything below runs on the main thread unless marked otherwise.
    int OpenComPort(int port, const std::string& settings);
    int LastOpenError() const { return openError_; }
    int CloseComPort(int port);
    int ComSettings(int port, const std::string& settings);
    int GetSerialComIsOpen(int port);
    // The first count bytes of data; the port is looked up before the count is checked.
    int Send(int port, const TByteBuffer& data, int count);
    void ClearBuffer(int port);
    void SetRs232Info(int port, const std::string& keyword);
    bool GetRs232Info(int port, const std::string& lineName);

    struct Exchange {
        bool emptyInputFirst = false;
        bool sends = true;
        bool watchesReply = false;
        const std::string* readSettings = nullptr;  // applied after sending, then a pause
        int expectedLength = 0;                     // reply length the caller accepts; 0 not stated
    };
    TReceivePacket RunExchange(int port, const Exchange& how, const uint8_t* data, int count, int timeoutMs);

    // Port-polling (queueUnsolicited) and reply-watch passes, on their threads:
    // what to wait for until the next pass.
    TWaitPlan PollPorts(bool queueUnsolicited, const TPortEvents& lastEvents);
    // The wait between two passes of a port-watching thread, bounded by the pass period.
    void WaitForPorts(const TWaitPlan& plan, TWakeup& wakeup, TPortEvents& events);
    void ProcTimer_Read();  // main thread, asked for by the delivery thread
    TWakeup& DeliveryWakeup() { return deliveryWakeup_; }

    void Shutdown();
    void RunDriverPoll(int port);
    // Set once; from then on no exchange or send starts (read from any thread).
    std::atomic<bool> stopRequested_{false};
    bool PortListEmpty() const;
    int PacketCount() const;
    bool HasDriver(int port) const;
    bool ThreadsRunning() const;
    uint32_t ErrorWord() const;

    TPollingMode Mode() const { return mode_.load(); }
    int PassPeriodMs() const { return passPeriodMs_.load(); }
    IClock& SettleClock() const { return *settleClock_.load(); }

    std::string settings_ = kDefaultSettings;
    bool rtsCts_ = false;
    int openError_ = 0;  // main thread only
    TSerialDeviceFactory factory_;
    std::atomic<TPollingMode> mode_{DefaultPollingMode()};
    std::atomic<int> passPeriodMs_{kPollPeriodMs};
    std::atomic<IClock*> settleClock_{&SystemClock()};

private:
    enum class Found { NoDriver, NotListed, Listed };
    // The common preamble of the port operations: the driver, and whether the
    // port is listed; shows the system-error warning for an unlisted port.
    Found Lookup(int port, TSerialComm*& driver);
    TSerialComPort* FindRecord(int port);  // lock held
    TSerialComm* FindDriver(int port);     // lock held
    void SetWaiting(int port, bool waiting, int expectedLength);
    void Deliver(TReceivePacket& record);
    void StartThreads();
    void StopThreads();
    void WakePortPolling();

    TTolmSerialComm& owner_;
    mutable std::mutex lock_;  // the component's one lock: guards everything below
    std::map<int, std::unique_ptr<TSerialComm>> drivers_;
    std::vector<TSerialComPort> ports_;
    uint32_t modemState_ = 0;  // nothing sets it
    uint32_t errorWord_ = 0;
    TReceiveQueue queue_;
    std::shared_ptr<TEvent> replyEvent_;
    TWakeup deliveryWakeup_;  // signalled when a record is queued, so the delivery thread runs at once

    // Main thread only: the ports that a device has been sent bytes on since
    // they opened, and the computer kept awake while there is one.
    std::set<int> spokenTo_;
    TSleepGuard sleepGuard_;

    // Created, stopped and dropped on the main thread only.
    std::unique_ptr<TSerialThread> serialThread_;
    std::unique_ptr<TSendDataEventThread> deliveryThread_;
    std::unique_ptr<TSerialReturnThread> replyWatchThread_;
};

void TPortWatchThread::Pass() {
    // The port-polling pass runs only while some port is listed.
    if (queuesUnsolicited_ && impl_->PortListEmpty()) {
        plan_ = {};
        return;
    }
    plan_ = impl_->PollPorts(queuesUnsolicited_, events_);
}

void TPortWatchThread::WaitForNextPass() {
    if (impl_->Mode() == TPollingMode::Sleep) {
        SleepFor(impl_->PassPeriodMs());
        return;
    }
    impl_->WaitForPorts(plan_, wakeup_, events_);
}

void TSendDataEventThread::Pass() {
    // Capture the component, not the thread: the pass may stop this thread.
    TTolmSerialCommImpl* impl = impl_;
    Synchronize([impl] { impl->ProcTimer_Read(); });
}

void TSendDataEventThread::WaitForNextPass() {
    if (impl_->Mode() == TPollingMode::Sleep) {
        SleepFor(impl_->PassPeriodMs());
        return;
    }
    // Until a record is queued, a stop request, or the pass period.
    TWakeup& queued = impl_->DeliveryWakeup();
    TInputWaitResult r = WaitForInput({queued.Fd()}, wakeup_, std::chrono::milliseconds(impl_->PassPeriodMs()));
    if (!r.Events.empty() && (r.Events[0] & kWaitInput)) queued.Drain();
}

// --------------------------------------------------------------- lookups

TSerialComPort* TTolmSerialCommImpl::FindRecord(int port) {
    for (auto& record : ports_)
        if (record.ComPort == port) return &record;
    return nullptr;
}

TSerialComm* TTolmSerialCommImpl::FindDriver(int port) {
    auto it = drivers_.find(port);
    return it == drivers_.end() ? nullptr : it->second.get();
}

TTolmSerialCommImpl::Found TTolmSerialCommImpl::Lookup(int port, TSerialComm*& driver) {
    bool listed;
    {
        std::lock_guard lock(lock_);
        driver = FindDriver(port);
        listed = FindRecord(port) != nullptr;
    }
    if (!driver) return Found::NoDriver;
    if (!listed) {
        ShowMessage(kNotListedMessage);
        return Found::NotListed;
    }
    // Drivers are created and deleted on the main thread only, so the pointer
    // stays valid for the rest of the calling operation.
    return Found::Listed;
}

bool TTolmSerialCommImpl::PortListEmpty() const {
    std::lock_guard lock(lock_);
    return ports_.empty();
}

int TTolmSerialCommImpl::PacketCount() const {
    std::lock_guard lock(lock_);
    return queue_.Count();
}

bool TTolmSerialCommImpl::HasDriver(int port) const {
    std::lock_guard lock(lock_);
    return drivers_.count(port) != 0;
}

uint32_t TTolmSerialCommImpl::ErrorWord() const {
    std::lock_guard lock(lock_);
    return errorWord_;
}

bool TTolmSerialCommImpl::ThreadsRunning() const {
    return (serialThread_ && serialThread_->Running()) || (deliveryThread_ && deliveryThread_->Running());
}

// ------------------------------------------------------ opening and closing

int TTolmSerialCommImpl::OpenComPort(int port, const std::string& settings) {
    {
        std::lock_guard lock(lock_);
        if (FindDriver(port)) return -3;
        if (FindRecord(port)) return -1;
    }
    auto driver = std::make_unique<TSerialComm>(TTolmSerialComm::DriverName(port), factory_);
    driver->SetSettings(settings);
    driver->SetRTS_CTS(rtsCts_);
    openError_ = 0;
    if (driver->OpenPort(port) != 0) {
        openError_ = driver->OpenError();
        return -2;  // the driver goes with the unique_ptr
    }

    bool first;
    {
        std::lock_guard lock(lock_);
        drivers_[port] = std::move(driver);
        TSerialComPort record;
        record.ComPort = port;
        ports_.push_back(record);
        first = ports_.size() == 1;
    }
    if (first)
        StartThreads();
    else
        WakePortPolling();  // so that its wait takes in the new port now
    return 0;
}

int TTolmSerialCommImpl::CloseComPort(int port) {
    std::unique_ptr<TSerialComm> driver;
    bool hasDriver, listed;
    {
        std::lock_guard lock(lock_);
        auto it = drivers_.find(port);
        hasDriver = it != drivers_.end();
        listed = FindRecord(port) != nullptr;
        if (hasDriver && listed) {
            // Once out of the map and the list no polling pass can reach it.
            driver = std::move(it->second);
            drivers_.erase(it);
            for (auto rec = ports_.begin(); rec != ports_.end(); ++rec) {
                if (rec->ComPort == port) {
                    ports_.erase(rec);
                    break;
                }
            }
        }
    }
    if (!hasDriver) return -1;
    int result = 0;
    if (!listed) {
        ShowMessage(kNotListedMessage);
        result = -2;
    } else {
        // Out of the list, so the next pass no longer waits on its descriptor.
        WakePortPolling();
        driver->ClosePort();
        driver.reset();
    }
    if (PortListEmpty()) StopThreads();
    // The transfer on this port is over, however it ended.
    spokenTo_.erase(port);
    if (spokenTo_.empty()) sleepGuard_.Release();
    return result;
}

int TTolmSerialCommImpl::ComSettings(int port, const std::string& settings) {
    TSerialComm* driver;
    if (Lookup(port, driver) != Found::Listed) return 1;
    std::lock_guard lock(lock_);
    driver->SetSettings(settings);  // re-applies the line state at once, without purging
    return 1;
}

int TTolmSerialCommImpl::GetSerialComIsOpen(int port) {
    {
        std::lock_guard lock(lock_);
        if (auto* driver = FindDriver(port); driver && driver->IsOpen()) return 1;
    }
    auto device = factory_ ? factory_(port) : MakeSerialDevice();
    if (!device || !device->Open(PortMap::ResolvePort(port).Path)) return 2;
    device->Close();
    return 0;
}

void TTolmSerialCommImpl::StartThreads() {
    if (!serialThread_) {
        serialThread_ = std::make_unique<TSerialThread>(this);
        serialThread_->Start();
    }
    if (!deliveryThread_) {
        deliveryThread_ = std::make_unique<TSendDataEventThread>(this);
        deliveryThread_->Start();
    }
    if (!replyWatchThread_) {
        replyWatchThread_ = std::make_unique<TSerialReturnThread>(this);
        replyWatchThread_->Start();
    }
}

void TTolmSerialCommImpl::WakePortPolling() {
    if (serialThread_) serialThread_->Wake();
}

void TTolmSerialCommImpl::StopThreads() {
    // Ask both first so they wind down together; the request ends their
    // waits at once. It also ends a delivery pass waiting for the main
    // thread, so joining here cannot deadlock, even when called from inside
    // OnReceiveData.
    if (serialThread_) serialThread_->Stop();
    if (deliveryThread_) deliveryThread_->Stop();
    if (replyWatchThread_) replyWatchThread_->Stop();
    if (serialThread_) serialThread_->WaitFor();
    if (deliveryThread_) deliveryThread_->WaitFor();
    if (replyWatchThread_) replyWatchThread_->WaitFor();
    serialThread_.reset();
    deliveryThread_.reset();
    replyWatchThread_.reset();
}

void TTolmSerialCommImpl::Shutdown() {
    std::vector<int> listed;
    {
        std::lock_guard lock(lock_);
        for (auto& record : ports_) listed.push_back(record.ComPort);
    }
    for (int port : listed) CloseComPort(port);
    StopThreads();
    std::map<int, std::unique_ptr<TSerialComm>> rest;
    {
        std::lock_guard lock(lock_);
        rest.swap(drivers_);
        ports_.clear();
    }
    rest.clear();  // closes any driver left without a record
    spokenTo_.clear();
    sleepGuard_.Release();
}

// ------------------------------------------------------------------ sending

void TTolmSerialCommImpl::RunDriverPoll(int port) {
    TSerialComm* driver;
    {
        std::lock_guard lock(lock_);
        driver = FindDriver(port);
    }
    if (driver) driver->ProcTimer();
}

int TTolmSerialCommImpl::Send(int port, const TByteBuffer& data, int count) {
    if (stopRequested_) return -3;
    TSerialComm* driver;
    switch (Lookup(port, driver)) {
        case Found::NoDriver: return -1;
        case Found::NotListed: return -2;
        case Found::Listed: break;
    }
    // Not under the lock: a write may block up to its time-out, and the
    // polling passes must keep running meanwhile.
    const TByteBuffer head = count == data.Length() ? data : data.Mid(0, count);  // beyond it: ERangeError
    // From the first byte a device is sent until its port closes, the
    // computer neither sleeps nor shuts down (asked once per port).
    if (spokenTo_.insert(port).second) sleepGuard_.Hold();
    return driver->OutputByte(head) ? 0 : -3;
}

void TTolmSerialCommImpl::ClearBuffer(int port) {
    TSerialComm* driver;
    if (Lookup(port, driver) != Found::Listed) return;
    std::lock_guard lock(lock_);
    driver->SetInDataCount(0);
    if (auto* record = FindRecord(port)) record->Arrival.Reset();
}

void TTolmSerialCommImpl::SetRs232Info(int port, const std::string& keyword) {
    TSerialComm* driver;
    if (Lookup(port, driver) != Found::Listed) return;
    std::lock_guard lock(lock_);
    driver->SetRs232Info(keyword);
}

bool TTolmSerialCommImpl::GetRs232Info(int port, const std::string& lineName) {
    TSerialComm* driver;
    if (Lookup(port, driver) != Found::Listed) return false;
    std::lock_guard lock(lock_);
    return driver->GetRs232Info(lineName);
}

// ---------------------------------------------------------------- exchanges

void TTolmSerialCommImpl::SetWaiting(int port, bool waiting, int expectedLength) {
    std::lock_guard lock(lock_);
    if (auto* record = FindRecord(port)) {
        record->Waiting = waiting;
        record->ExpectedLength = waiting ? std::max(expectedLength, 0) : 0;
        // The reply is watched from here on by its own rule.
        record->Arrival.Reset();
    }
}

TReceivePacket TTolmSerialCommImpl::RunExchange(int port, const Exchange& how, const uint8_t* data, int count,
                                                int timeoutMs) {
    TReceivePacket reply;
    if (stopRequested_) return reply;
    // Set before anything else, so that no polling pass starts reading a port
    // whose reply a caller is about to wait for.
    SetWaiting(port, true, how.expectedLength);
    if (how.emptyInputFirst) ClearBuffer(port);

    IClock::time_point requestLeft = SystemClock().Now();
    if (how.sends) {
        if (Send(port, TByteBuffer(data, static_cast<size_t>(count)), count) != 0) {
            SetWaiting(port, false, 0);
            return reply;
        }
        std::lock_guard lock(lock_);
        if (auto* driver = FindDriver(port)) requestLeft = driver->LastWriteLeftPort();
    }
    if (how.readSettings) {
        ComSettings(port, *how.readSettings);
        Sleep(kReadSettingsPauseMs);
    }

    // The event exists before the reply watch starts, so the watch's first
    // pass can already wake the caller.
    auto event = std::make_shared<TEvent>();
    {
        std::lock_guard lock(lock_);
        replyEvent_ = event;
    }
    TSerialReturnThread* watcher = how.watchesReply ? replyWatchThread_.get() : nullptr;
    if (watcher) watcher->Watch(true);
    // The time-out counts from when the request has left the port.
    auto wait = ReplyWait(SystemClock().Now(), requestLeft, timeoutMs);
    bool signalled = event->WaitFor(static_cast<int>(wait.count()));
    if (watcher) watcher->Watch(false);

    std::lock_guard lock(lock_);
    if (signalled) {
        if (auto* driver = FindDriver(port)) {
            driver->ReadReceivePacket();
            reply = driver->ReceivePacket();
        }
    }
    if (auto* record = FindRecord(port)) {
        record->Waiting = false;
        record->ExpectedLength = 0;
        if (signalled) record->Arrival.Reset();  // what was watched has been read
    }
    replyEvent_.reset();
    return reply;
}

// ------------------------------------------------------------------- passes

TWaitPlan TTolmSerialCommImpl::PollPorts(bool queueUnsolicited, const TPortEvents& lastEvents) {
    const bool sleeping = Mode() == TPollingMode::Sleep;
    IClock& clock = SettleClock();
    const auto passPeriod = std::chrono::milliseconds(PassPeriodMs());
    TWaitPlan plan;
    std::vector<int> ports;
    {
        std::lock_guard lock(lock_);
        for (auto& record : ports_) ports.push_back(record.ComPort);
    }
    bool queued = false;
    for (int port : ports) {
        bool dropped = false;
        uint32_t errors = 0, modemState = 0;
        {
            // One record's step under the lock.
            std::lock_guard lock(lock_);
            TSerialComPort* record = FindRecord(port);
            TSerialComm* driver = FindDriver(port);
            if (!record || !driver || !driver->IsOpen()) continue;
            TCommStatus status = driver->QueryStatus();
            errorWord_ = status.Errors;
            errors = errorWord_;
            modemState = modemState_;

            // The reply watch looks only at the port a caller waits on.
            if (record->Waiting || queueUnsolicited) {
                TArrivalWatch::TVerdict verdict;
                if (sleeping) {
                    verdict.Complete = status.BytesWaiting > 0;  // whatever waits at this pass
                } else {
                    TSettleRule rule;
                    rule.ExpectedLength = record->Waiting ? record->ExpectedLength : 0;
                    if (const auto& line = driver->LineSettings()) rule.CharTime = LineTime(1, *line);
                    verdict = record->Arrival.Observe(status.BytesWaiting, clock.Now(), rule);
                }

                if (verdict.Complete && record->Waiting) {
                    // A caller waits for this port's reply: wake it, leave the bytes to it.
                    if (replyEvent_) replyEvent_->SetEvent();
                    // Look again shortly, in case the caller has given up meanwhile.
                    verdict.NextCheck = clock.Now() + kSettleSampleStep;
                } else if (verdict.Complete) {
                    driver->ReadReceivePacket();
                    record->Arrival.Reset();
                    const TReceivePacket& packet = driver->ReceivePacket();
                    // A purged overflow or a failed read brings nothing to deliver.
                    if (packet.Length > 0) {
                        if (queue_.Push(packet))
                            queued = true;
                        else
                            dropped = true;
                    }
                    verdict.NextCheck = IClock::time_point::max();  // read: wait for more
                }

                if (!sleeping) {
                    const int fd = driver->PollDescriptor();
                    auto event = lastEvents.find(port);
                    const short revents = event == lastEvents.end() ? 0 : event->second;
                    if (verdict.NextCheck != IClock::time_point::max()) {
                        plan.NextCheck = std::min(plan.NextCheck, verdict.NextCheck);
                    } else if (fd < 0) {
                        // No descriptor to wait on: ask again at short intervals.
                        plan.NextCheck = std::min(plan.NextCheck, clock.Now() + kSettleSampleStep);
                    } else if (revents & (kWaitHangUp | kWaitError | kWaitInvalid)) {
                        // A hung-up or failed line stays "ready" for poll(2): ask
                        // it again at the next pass instead of spinning on it.
                        plan.NextCheck = std::min(plan.NextCheck, clock.Now() + passPeriod);
                    } else if ((revents & kWaitInput) && status.BytesWaiting == 0) {
                        // Reported readable with nothing to read: ask again shortly.
                        plan.NextCheck = std::min(plan.NextCheck, clock.Now() + kSettleSampleStep);
                    } else {
                        plan.Fds.push_back(fd);
                        plan.Ports.push_back(port);
                    }
                }
            }
        }
        // Raised outside the lock; a polling pass never waits for the main
        // thread, so the message is handed over without waiting.
        if (dropped) ShowMessage(kQueueFullMessage);
        if (modemState != 0 && owner_.OnModemStateChange) owner_.OnModemStateChange(&owner_, modemState);
        if (errors != 0 && owner_.OnReceiveError) owner_.OnReceiveError(&owner_, errors);
    }
    if (queued && !sleeping) deliveryWakeup_.Signal();
    return plan;
}

void TTolmSerialCommImpl::WaitForPorts(const TWaitPlan& plan, TWakeup& wakeup, TPortEvents& events) {
    using namespace std::chrono;
    nanoseconds timeout = milliseconds(PassPeriodMs());
    if (plan.NextCheck != IClock::time_point::max()) {
        auto untilCheck = duration_cast<nanoseconds>(plan.NextCheck - SettleClock().Now());
        timeout = std::clamp(untilCheck, nanoseconds(0), timeout);
    }
    TInputWaitResult result = WaitForInput(plan.Fds, wakeup, timeout);
    events.clear();
    for (size_t i = 0; i < plan.Ports.size(); ++i)
        if (result.Events[i] != 0) events[plan.Ports[i]] = result.Events[i];
}

void TTolmSerialCommImpl::ProcTimer_Read() {
    ProcessMessages();
    int n = PacketCount();
    for (int i = 0; i < n; ++i) {
        std::optional<TReceivePacket> record;
        {
            std::lock_guard lock(lock_);
            record = queue_.Take();
        }
        if (!record) break;  // taken by a nested delivery pass
        Deliver(*record);
    }
    ProcessMessages();
}

void TTolmSerialCommImpl::Deliver(TReceivePacket& record) {
    if (!owner_.OnReceiveData) return;
    TEventScope event;
    try {
        owner_.OnReceiveData(&record);
    } catch (const std::exception& e) {
        // What escapes the handler is shown, as the application shows an
        // exception that escapes any event handler; delivery goes on.
        ShowMessage(e.what());
    }
}

// ------------------------------------------------------------ public facade

TTolmSerialComm::TTolmSerialComm() : impl_(std::make_unique<TTolmSerialCommImpl>(*this)) {}

TTolmSerialComm::~TTolmSerialComm() { impl_->Shutdown(); }

int TTolmSerialComm::OpenComPort(int port, const std::string& settings) {
    return impl_->OpenComPort(port, settings);
}

int TTolmSerialComm::LastOpenError() const { return impl_->LastOpenError(); }

int TTolmSerialComm::CloseComPort(int port) { return impl_->CloseComPort(port); }

int TTolmSerialComm::ComSettings(int port, const std::string& settings) {
    return impl_->ComSettings(port, settings);
}

int TTolmSerialComm::GetSerialComIsOpen(int port) { return impl_->GetSerialComIsOpen(port); }

void TTolmSerialComm::SetSettings(const std::string& settings) { impl_->settings_ = settings; }

const std::string& TTolmSerialComm::Settings() const { return impl_->settings_; }

void TTolmSerialComm::SetRTS_CTS(bool on) { impl_->rtsCts_ = on; }

bool TTolmSerialComm::RTS_CTS() const { return impl_->rtsCts_; }

int TTolmSerialComm::SendString(int port, const std::string& data) {
    const TByteBuffer bytes = TByteBuffer::FromText(data);
    return impl_->Send(port, bytes, bytes.Length());
}

int TTolmSerialComm::SendByte(int port, const TByteBuffer& data) { return impl_->Send(port, data, data.Length()); }

int TTolmSerialComm::SendByte(int port, const TByteBuffer& data, int count) { return impl_->Send(port, data, count); }

TByteBuffer TTolmSerialComm::SendByteReceiveByte(int port, const TByteBuffer& data, int timeoutMs,
                                                 int expectedLength) {
    TTolmSerialCommImpl::Exchange how;
    how.emptyInputFirst = true;
    how.watchesReply = true;
    how.expectedLength = expectedLength;
    return impl_->RunExchange(port, how, data.data(), data.Length(), timeoutMs).Bytes;
}

std::string TTolmSerialComm::SendByteReceiveString(int port, const TByteBuffer& data, int timeoutMs) {
    TTolmSerialCommImpl::Exchange how;
    return impl_->RunExchange(port, how, data.data(), data.Length(), timeoutMs).Text;
}

TByteBuffer TTolmSerialComm::SendStringReceiveByte(int port, const std::string& data, int timeoutMs) {
    TTolmSerialCommImpl::Exchange how;
    return impl_->RunExchange(port, how, reinterpret_cast<const uint8_t*>(data.data()),
                              static_cast<int>(data.size()), timeoutMs)
        .Bytes;
}

std::string TTolmSerialComm::SendStringReceiveString(int port, const std::string& data, int timeoutMs) {
    TTolmSerialCommImpl::Exchange how;
    return impl_->RunExchange(port, how, reinterpret_cast<const uint8_t*>(data.data()),
                              static_cast<int>(data.size()), timeoutMs)
        .Text;
}

TByteBuffer TTolmSerialComm::SendByteReceiveByte_SetReadSettings(int port, const TByteBuffer& data, int timeoutMs,
                                                                 const std::string& settings) {
    TTolmSerialCommImpl::Exchange how;
    how.watchesReply = true;
    how.readSettings = &settings;
    return impl_->RunExchange(port, how, data.data(), data.Length(), timeoutMs).Bytes;
}

TByteBuffer TTolmSerialComm::ReceiveByte(int port, int timeoutMs) {
    TTolmSerialCommImpl::Exchange how;
    how.emptyInputFirst = true;
    how.sends = false;
    how.watchesReply = true;
    return impl_->RunExchange(port, how, nullptr, 0, timeoutMs).Bytes;
}

void TTolmSerialComm::ClearBuffer(int port) { impl_->ClearBuffer(port); }

void TTolmSerialComm::SetRs232Info(int port, const std::string& keyword) { impl_->SetRs232Info(port, keyword); }

bool TTolmSerialComm::GetRs232Info(int port, const std::string& lineName) {
    return impl_->GetRs232Info(port, lineName);
}

int TTolmSerialComm::Packet_Count() const { return impl_->PacketCount(); }

std::string TTolmSerialComm::DriverName(int port) { return "TolmSerialCommPort" + std::to_string(port); }

bool TTolmSerialComm::HasDriver(int port) const { return impl_->HasDriver(port); }

bool TTolmSerialComm::PollingThreadsRunning() const { return impl_->ThreadsRunning(); }

uint32_t TTolmSerialComm::ErrorWord() const { return impl_->ErrorWord(); }

void TTolmSerialComm::RequestStop() { impl_->stopRequested_ = true; }

bool TTolmSerialComm::StopRequested() const { return impl_->stopRequested_.load(); }

bool TTolmSerialComm::AnyPortOpen() const { return !impl_->PortListEmpty(); }

void TTolmSerialComm::RunDriverPoll(int port) { impl_->RunDriverPoll(port); }

void TTolmSerialComm::SetDeviceFactory(TSerialDeviceFactory factory) { impl_->factory_ = std::move(factory); }

void TTolmSerialComm::SetPollingMode(TPollingMode mode) { impl_->mode_ = mode; }

TPollingMode TTolmSerialComm::PollingMode() const { return impl_->Mode(); }

void TTolmSerialComm::SetPassPeriodMs(int ms) { impl_->passPeriodMs_ = std::max(ms, 1); }

int TTolmSerialComm::PassPeriodMs() const { return impl_->PassPeriodMs(); }

void TTolmSerialComm::SetSettleClock(IClock* clock) { impl_->settleClock_ = clock ? clock : &SystemClock(); }

}  // namespace tolm
