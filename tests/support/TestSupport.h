#pragma once
// Helpers shared by the tests: a temporary folder, a pseudo-terminal pair,
// a message sink that records, and a way to pump the main thread's events.
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "toolkit/Messages.h"

#ifdef _WIN32
#include <cstdlib>
// The environment calls of the tests, on Windows's C library.
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace tolm::test {

// A fresh folder under $TMPDIR, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;

private:
    std::string path_;
};

// A pseudo-terminal: the master side stays here (the "device"), the slave
// path is what the code under test opens, usually through a COMn link.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    void Write(const std::string& bytes);
    // Reads what arrives within timeoutMs (stops early after a 50 ms quiet gap
    // once at least minBytes have come).
    std::string Read(int timeoutMs, size_t minBytes = 1);
    void CloseMaster();

private:
    int master_ = -1;
    int keepSlave_ = -1;  // keeps the line up while the code under test reopens it
    std::string slavePath_;
};

// Points the port map at dir (sets TOLM_PORT_DIR) and links COMn there to target.
void LinkPort(const TempDir& dir, int port, const std::string& target);

// Records every message instead of opening boxes.
class RecordingSink : public IMessageSink {
public:
    struct Entry {
        std::string text, caption;
        TMsgIcon icon;
    };
    void Show(const std::string& text, const std::string& caption, TMsgIcon icon) override;
    std::vector<Entry> Entries() const;
    std::vector<std::string> Texts() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// Installs a RecordingSink for the scope of the object.
class ScopedRecordingSink {
public:
    ScopedRecordingSink();
    ~ScopedRecordingSink();
    RecordingSink& operator*() { return *sink_; }
    RecordingSink* operator->() { return sink_.get(); }

private:
    std::shared_ptr<RecordingSink> sink_;
    std::shared_ptr<IMessageSink> previous_;
};

// Runs the main thread's event loop until pred() holds or timeoutMs passes.
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs);
// Runs the main thread's event loop for ms milliseconds.
void Pump(int ms);
// What PumpUntil and Pump run while they wait: by default the main thread's
// messages (waiting up to 2 ms for one). The window's tests add Qt's events.
void SetEventPump(std::function<void()> pump);

}  // namespace tolm::test
