#pragma once
// A scripted serial device and a clock that moves only when slept on, for the
// behaviour a pseudo-terminal cannot show: queue sizes, line errors, modem
// lines, more bytes waiting than a pty holds, an output queue that drains late
// or never. The state lives in a shared FakeLine so the test keeps it after the
// driver has taken the device; every access is locked, since the component's
// polling threads use the device too. A line made pollable offers a descriptor
// (a pipe) that poll(2) reports readable exactly while input bytes are visible;
// on Windows an event that is signalled exactly then.
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <climits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Serialdevice.h"

#ifdef _WIN32
// After Serialdevice.h: <windows.h> defines its flag names as macros of the same values.
#include <windows.h>
#endif

namespace tolm::test {

class FakeClock : public IClock {
public:
    time_point Now() override { return now_; }
    void SleepFor(duration d) override {
        if (d > duration::zero()) now_ += d;
    }
    void Advance(std::chrono::milliseconds ms) { now_ += ms; }
    std::chrono::milliseconds Elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - start_);
    }
    time_point Start() const { return start_; }

private:
    time_point start_ = time_point(std::chrono::hours(1));
    time_point now_ = start_;
};

struct FakeLine {
    ~FakeLine() {
#ifdef _WIN32
        if (readyPipe[0] >= 0) CloseHandle(LongToHandle(readyPipe[0]));
#else
        for (int fd : readyPipe)
            if (fd >= 0) close(fd);
#endif
    }
    std::mutex mutex;
    // Scripted answers.
    bool openSucceeds = true;
    bool queueSizesAccepted = true;
    bool statusSucceeds = true;
    bool readFails = false;
    std::optional<uint32_t> reportedWaiting;  // overrides the count of input bytes
    uint32_t pendingErrors = 0;               // reported (once) by the next status query
    bool modemReadable = true;
    uint32_t modemBits = 0;
    bool writeFails = false;
    // Input bytes already there but not yet visible to status queries (they
    // arrive "just now"), until the first write; that write also makes
    // replyOnWrite arrive, as a device answering a request would.
    bool hideInputUntilWrite = false;
    std::string replyOnWrite;
    int acceptLimit = INT_MAX;  // bytes the output queue takes in all before it is full
    // Output queue model on a fake clock: bytes accepted stay queued until drainAt.
    FakeClock* clock = nullptr;
    IClock::time_point drainAt{};  // time_point::max(): never drains
    // When set, queued bytes instead leave one per this interval from the
    // write that found the queue empty, as on a real line.
    IClock::duration drainPerByte{};
    IClock::time_point drainStart{};
    bool outputQueueKnown = true;

    // What happened.
    std::string openedPath;
    bool open = false;
    int opens = 0;
    uint32_t queueIn = 0, queueOut = 0;
    std::vector<uint32_t> purges;
    int lineStateCalls = 0;
    std::optional<TLineSettings> line;
    bool rtsCts = false;
    TCommTimeouts timeouts;
    std::vector<TLineAction> actions;
    std::string input;    // bytes waiting to be read
    std::string written;  // bytes accepted by writes
    int queued = 0;       // accepted and not yet drained
    int statusQueries = 0;

    // Gives the line a descriptor for poll(2) (before the device is opened).
    void MakePollable() {
        std::lock_guard lock(mutex);
        if (readyPipe[0] >= 0) return;
#ifdef _WIN32
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        readyPipe[0] = readyPipe[1] = ready ? HandleToLong(ready) : -1;
#else
        if (pipe2(readyPipe, O_NONBLOCK | O_CLOEXEC) != 0) readyPipe[0] = readyPipe[1] = -1;
#endif
    }
    // The line hangs up: its descriptor reports POLLHUP from now on.
    void HangUp() {
        std::lock_guard lock(mutex);
#ifndef _WIN32
        if (readyPipe[1] >= 0) close(readyPipe[1]);
#endif
        readyPipe[1] = -1;
        readyMarked = false;
    }
    void Feed(const std::string& bytes) {
        std::lock_guard lock(mutex);
        input += bytes;
        SyncReady();
    }
    // Feeds bytes and returns the count of status queries made before them,
    // so that a test can wait for a look at the port that saw them.
    int FeedAndCount(const std::string& bytes) {
        std::lock_guard lock(mutex);
        input += bytes;
        SyncReady();
        return statusQueries;
    }
    int StatusQueries() {
        std::lock_guard lock(mutex);
        return statusQueries;
    }
    std::string Written() {
        std::lock_guard lock(mutex);
        return written;
    }

    // Keeps the descriptor readable exactly while input is visible (mutex held).
    void SyncReady() {
        bool visible = !hideInputUntilWrite && (!input.empty() || reportedWaiting.value_or(0) > 0);
        if (readyPipe[1] < 0) return;
#ifdef _WIN32
        if (visible != readyMarked) readyMarked = visible ? SetEvent(LongToHandle(readyPipe[1])) != 0
                                                          : ResetEvent(LongToHandle(readyPipe[1])) == 0;
#else
        char c = 1;
        if (visible && !readyMarked) readyMarked = write(readyPipe[1], &c, 1) == 1;
        if (!visible && readyMarked) readyMarked = read(readyPipe[0], &c, 1) != 1;
#endif
    }
    int readyPipe[2] = {-1, -1};
    bool readyMarked = false;
};

class FakeSerialDevice : public ISerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}

    bool Open(const std::string& path) override {
        std::lock_guard lock(line_->mutex);
        line_->openedPath = path;
        ++line_->opens;
        line_->open = line_->openSucceeds;
        return line_->open;
    }
    void Close() override {
        std::lock_guard lock(line_->mutex);
        line_->open = false;
    }
    bool IsOpen() const override {
        std::lock_guard lock(line_->mutex);
        return line_->open;
    }
    bool SetQueueSizes(uint32_t in, uint32_t out) override {
        std::lock_guard lock(line_->mutex);
        line_->queueIn = in;
        line_->queueOut = out;
        return line_->queueSizesAccepted;
    }
    bool Purge(uint32_t flags) override {
        std::lock_guard lock(line_->mutex);
        line_->purges.push_back(flags);
        if (flags & PURGE_RXCLEAR) {
            line_->input.clear();
            line_->reportedWaiting.reset();
            line_->SyncReady();
        }
        if (flags & PURGE_TXCLEAR) line_->queued = 0;
        return true;
    }
    bool SetLineState(const TLineSettings& settings, bool rtsCts) override {
        std::lock_guard lock(line_->mutex);
        ++line_->lineStateCalls;
        line_->line = settings;
        line_->rtsCts = rtsCts;
        return true;
    }
    bool SetTimeouts(const TCommTimeouts& t) override {
        std::lock_guard lock(line_->mutex);
        line_->timeouts = t;
        return true;
    }
    TCommTimeouts Timeouts() const override {
        std::lock_guard lock(line_->mutex);
        return line_->timeouts;
    }
    bool QueryStatus(TCommStatus& status) override {
        std::lock_guard lock(line_->mutex);
        status = {};
        ++line_->statusQueries;
        line_->SyncReady();
        if (!line_->statusSucceeds) return false;
        uint32_t visible = line_->hideInputUntilWrite ? 0 : static_cast<uint32_t>(line_->input.size());
        status.BytesWaiting = line_->reportedWaiting.value_or(visible);
        status.Errors = line_->pendingErrors;
        line_->pendingErrors = 0;
        return true;
    }
    int Read(uint8_t* buffer, int count) override {
        std::lock_guard lock(line_->mutex);
        if (line_->readFails) return -1;
        int n = std::min<int>(count, static_cast<int>(line_->input.size()));
        std::copy_n(line_->input.begin(), n, buffer);
        line_->input.erase(0, static_cast<size_t>(n));
        line_->SyncReady();
        return n;
    }
    int WriteSome(const uint8_t* data, int count) override {
        std::lock_guard lock(line_->mutex);
        if (line_->writeFails) return -1;
        int room = line_->acceptLimit - static_cast<int>(line_->written.size());
        int n = std::clamp(count, 0, std::max(room, 0));
        if (line_->queued == 0 && line_->clock) line_->drainStart = line_->clock->Now();
        line_->written.append(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
        line_->queued += n;
        if (n > 0) {
            line_->hideInputUntilWrite = false;
            line_->input += line_->replyOnWrite;
            line_->replyOnWrite.clear();
            line_->SyncReady();
        }
        return n;
    }
    bool WaitWritable(int ms) override {
        std::lock_guard lock(line_->mutex);
        if (line_->clock) line_->clock->SleepFor(std::chrono::milliseconds(ms));
        return static_cast<int>(line_->written.size()) < line_->acceptLimit;
    }
    int OutputQueued() override {
        std::lock_guard lock(line_->mutex);
        if (!line_->outputQueueKnown) return -1;
        if (line_->clock && line_->drainPerByte > IClock::duration::zero()) {
            auto gone = (line_->clock->Now() - line_->drainStart) / line_->drainPerByte;
            return static_cast<int>(std::max<int64_t>(line_->queued - gone, 0));
        }
        if (!line_->clock || line_->clock->Now() >= line_->drainAt) line_->queued = 0;
        return line_->queued;
    }
    bool LineAction(TLineAction action) override {
        std::lock_guard lock(line_->mutex);
        line_->actions.push_back(action);
        return true;
    }
    bool ModemStatus(uint32_t& bits) override {
        std::lock_guard lock(line_->mutex);
        bits = line_->modemReadable ? line_->modemBits : 0;
        return line_->modemReadable;
    }
    int PollDescriptor() const override {
        std::lock_guard lock(line_->mutex);
        return line_->open ? line_->readyPipe[0] : -1;
    }

private:
    std::shared_ptr<FakeLine> line_;
};

// A factory handing out devices on one shared line.
inline TSerialDeviceFactory FakeFactory(std::shared_ptr<FakeLine> line) {
    return [line](int) { return std::make_unique<FakeSerialDevice>(line); };
}

}  // namespace tolm::test
