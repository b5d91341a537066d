#pragma once
// Line peers for the terminal protocol tests: a scripted terminal on the
// master side of a pseudo-terminal pair, and a tolm-devsim process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "protocol/Frame.h"
#include "toolkit/ByteBuffer.h"

namespace tolm::test {

// Reads what the host writes to the pty and answers each complete request
// through a script, on its own thread. Length tells how many pending bytes
// form the next request (0: more needed, -1: drop the first byte); Answer
// returns the reply bytes (empty: stay silent).
class ScriptedPeer {
public:
    using Clock = std::chrono::steady_clock;
    using LengthFn = std::function<int(const TByteBuffer& pending)>;
    using AnswerFn = std::function<TByteBuffer(const TByteBuffer& request)>;
    struct Chunk {
        Clock::time_point at;
        TByteBuffer bytes;
    };

    ScriptedPeer(int masterFd, LengthFn length, AnswerFn answer)
        : fd_(masterFd), length_(std::move(length)), answer_(std::move(answer)), thread_([this] { Run(); }) {}
    ~ScriptedPeer() {
        stop_ = true;
        thread_.join();
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::vector<TByteBuffer> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // Every read from the line, as it came.
    std::vector<Chunk> Chunks() const {
        std::lock_guard lock(mutex_);
        return chunks_;
    }
    TByteBuffer Received() const {
        std::lock_guard lock(mutex_);
        TByteBuffer all;
        for (auto& c : chunks_) all.Append(c.bytes);
        return all;
    }

    // Frame length of the addressed families' requests with a fixed length per
    // command: 14 bytes, or by 0x70 sub-command for the given data size.
    static LengthFn AddressedLengths(int dataSize) {
        return [dataSize](const TByteBuffer& p) -> int {
            if (p[0] != frame::kFlag) return -1;
            if (p.Length() < 13) return 0;
            if (p[frame::kCommandOffset] != 0x70) return 14;
            switch (p[12]) {
                case 0x00: return 19;
                case 0x01: return 17 + dataSize + 2;
                case 0x02: return 15;
                default: return -1;
            }
        };
    }

private:
    void Run() {
        TByteBuffer pending;
        uint8_t buf[8192];
        while (!stop_) {
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0 || !(pfd.revents & POLLIN)) continue;
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) continue;
            TByteBuffer bytes(buf, static_cast<size_t>(n));
            {
                std::lock_guard lock(mutex_);
                chunks_.push_back({Clock::now(), bytes});
            }
            if (!length_) continue;
            pending.Append(bytes);
            while (!pending.IsEmpty()) {
                int len = length_(pending);
                if (len == 0) break;
                if (len < 0) {
                    pending = pending.Mid(1, pending.Length() - 1);
                    continue;
                }
                TByteBuffer request = pending.Mid(0, len);
                pending = pending.Mid(len, pending.Length() - len);
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                TByteBuffer reply = answer_ ? answer_(request) : TByteBuffer();
                if (!reply.IsEmpty() && ::write(fd_, reply.data(), static_cast<size_t>(reply.Length())) < 0) return;
            }
        }
    }

    int fd_;
    LengthFn length_;
    AnswerFn answer_;
    mutable std::mutex mutex_;
    std::vector<TByteBuffer> requests_;
    std::vector<Chunk> chunks_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A terminal's reply frame: type, sender id, receiver 00 00 00 00, command, data.
inline TByteBuffer TerminalReply(uint8_t type, uint8_t command, const TByteBuffer& data = {},
                                 const TByteBuffer& id = {0, 0, 0, 1}) {
    return frame::Wrap(frame::AddressedPayloadFrom(type, id, TByteBuffer{0, 0, 0, 0}, command, data));
}

#ifdef TOLM_DEVSIM
// The tolm-devsim program run with the given arguments. For "run", the
// constructor waits for its "PTY <path>" line; Stop() ends it with SIGTERM
// (it then saves its image) and waits for it.
class Devsim {
public:
    explicit Devsim(const std::vector<std::string>& args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<char*> argv = Argv(args);  // built before fork: the child only execs
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            execv(TOLM_DEVSIM, argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
    }
    ~Devsim() {
        Stop();
        if (out_ >= 0) close(out_);
    }
    Devsim(const Devsim&) = delete;
    Devsim& operator=(const Devsim&) = delete;

    // Waits for the "PTY <path>" line; the path, or empty.
    std::string WaitForPty(int timeoutMs = 10000) {
        std::string text;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            size_t nl = text.find('\n');
            if (nl != std::string::npos) return text.rfind("PTY ", 0) == 0 ? text.substr(4, nl - 4) : "";
            pollfd pfd{out_, POLLIN, 0};
            if (poll(&pfd, 1, 100) <= 0) continue;
            char buf[256];
            ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0) return "";
            text.append(buf, static_cast<size_t>(n));
        }
        return "";
    }

    // The exit status (-1 when it could not be collected).
    int Stop() {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        pid_t r = waitpid(pid_, &status, 0);
        pid_ = -1;
        return r > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Runs "tolm-devsim gen ..." to its end; its exit status.
    static int Generate(const std::vector<std::string>& args) {
        std::vector<char*> argv = Argv(args);
        pid_t pid = fork();
        if (pid == 0) {
            execv(TOLM_DEVSIM, argv.data());
            _exit(127);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

private:
    static std::vector<char*> Argv(const std::vector<std::string>& args) {
        std::vector<char*> argv{const_cast<char*>(TOLM_DEVSIM)};
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        return argv;
    }

    pid_t pid_ = -1;
    int out_ = -1;
};
#endif

}  // namespace tolm::test
