#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <random>
#include <thread>

#include "toolkit/MainThread.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tolm::test {

namespace {
std::function<void()>& EventPump() {
    static std::function<void()> pump = [] { WaitMessages(2); };
    return pump;
}
}  // namespace

#ifdef _WIN32
TempDir::TempDir() {
    // A new folder of a name no one else has made.
    const auto base = std::filesystem::temp_directory_path();
    for (unsigned n = 0; path_.empty() && n < 1000; ++n) {
        const auto candidate = base / ("tolm-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                       std::to_string(std::random_device{}() % 1000000));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.generic_string();
    }
    if (path_.empty()) throw std::runtime_error("no temporary folder");
}
#else
TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tolm-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}
#endif

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void LinkPort(const TempDir& dir, int port, const std::string& target) {
    setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
    std::string link = dir.File("COM" + std::to_string(port));
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(target, link);
}

void RecordingSink::Show(const std::string& text, const std::string& caption, TMsgIcon icon) {
    std::lock_guard lock(mutex_);
    entries_.push_back({text, caption, icon});
}

std::vector<RecordingSink::Entry> RecordingSink::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<std::string> RecordingSink::Texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (auto& e : entries_) texts.push_back(e.text);
    return texts;
}

void RecordingSink::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

ScopedRecordingSink::ScopedRecordingSink() : sink_(std::make_shared<RecordingSink>()) {
    previous_ = InstallMessageSink(sink_);
}

ScopedRecordingSink::~ScopedRecordingSink() { InstallMessageSink(previous_); }

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= until) return pred();
        EventPump()();
    }
    return true;
}

void SetEventPump(std::function<void()> pump) { EventPump() = std::move(pump); }

void Pump(int ms) { PumpUntil([] { return false; }, ms); }

}  // namespace tolm::test
