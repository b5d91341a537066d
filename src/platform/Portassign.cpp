#include "platform/Portassign.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <tuple>

namespace fs = std::filesystem;

namespace tolm {

namespace {

constexpr int kHighestPort = 255;  // the highest number a port name may carry
const char* const kAdapterPrefixes[] = {"ttyUSB", "ttyACM", "rfcomm"};

struct TAdapter {
    std::string Prefix;
    int Line = 0;
    std::string Node;      // /dev/ttyUSB0
    std::string ByIdLink;  // /dev/serial/by-id/..., empty without udev
    std::string Identity;
};

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool EntryExists(const fs::path& path) {  // the entry itself, even a dangling link
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string Canonical(const fs::path& path) {
    std::error_code ec;
    auto resolved = fs::canonical(path, ec);
    return ec ? std::string() : resolved.string();
}

// Identity texts end up in file names and file contents: keep them to one safe line.
std::string Safe(std::string text) {
    for (auto& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-' && c != ':') c = '_';
    return text;
}

std::string SysfsIdentity(const TSerialPortInfo& info) {
    if (info.Kind == TSerialPortKind::Usb) {
        // Without a serial number, the place on the bus tells two adapters of one kind apart.
        const std::string tail = info.UsbSerial.empty() ? "at-" + info.UsbLocation : info.UsbSerial;
        return Safe("usb-" + info.UsbVendorId + "-" + info.UsbProductId + "-" + tail);
    }
    if (info.Kind == TSerialPortKind::Bluetooth && !info.BluetoothAddress.empty())
        return Safe("bluetooth-" + info.BluetoothAddress +
                    (info.BluetoothChannel.empty() ? "" : "-" + info.BluetoothChannel));
    return {};
}

std::string ByIdLink(const fs::path& devRoot, const std::string& node) {
    const std::string target = Canonical(node);
    std::error_code ec;
    for (fs::directory_iterator it(devRoot / "serial" / "by-id", ec), end; !ec && it != end; it.increment(ec))
        if (!target.empty() && Canonical(it->path()) == target) return it->path().string();
    return {};
}

std::vector<TAdapter> PresentAdapters(const TSysfsLocations& where) {
    std::vector<TAdapter> adapters;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(where.SysfsRoot) / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const char* prefix : kAdapterPrefixes) {
            auto line = NumberAfterPrefix(name, prefix);
            if (!line) continue;
            TAdapter adapter{prefix, *line, (fs::path(where.DevRoot) / name).string(), {}, {}};
            if (!Exists(adapter.Node)) break;
            adapter.ByIdLink = ByIdLink(where.DevRoot, adapter.Node);
            adapter.Identity = adapter.ByIdLink.empty() ? SysfsIdentity(DescribeTty(name, where))
                                                        : fs::path(adapter.ByIdLink).filename().string();
            if (!adapter.Identity.empty()) adapters.push_back(adapter);
            break;
        }
    }
    std::sort(adapters.begin(), adapters.end(),
              [](const TAdapter& a, const TAdapter& b) { return std::tie(a.Prefix, a.Line) < std::tie(b.Prefix, b.Line); });
    return adapters;
}

// The highest port number of a real UART (ttyS line k is port k+1), 0 when there is none.
int HighestBuiltInPort(const TSysfsLocations& where) {
    int highest = 0;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(where.SysfsRoot) / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        auto line = NumberAfterPrefix(name, "ttyS");
        if (!line || *line >= kHighestPort) continue;
        if (!Exists(fs::path(where.DevRoot) / name)) continue;
        if (DescribeTty(name, where).Kind == TSerialPortKind::BuiltIn) highest = std::max(highest, *line + 1);
    }
    return highest;
}

std::string ReadIdentity(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Replaces the link at entry by one to target; the rename keeps the entry present throughout.
void Repoint(const fs::path& entry, const std::string& target) {
    const fs::path temporary = entry.string() + ".new";
    std::error_code ec;
    fs::remove(temporary, ec);
    if (symlink(target.c_str(), temporary.c_str()) != 0) return;
    if (rename(temporary.c_str(), entry.c_str()) != 0) fs::remove(temporary, ec);
}

// Points every assigned entry at its adapter's tty, or at nothing while it is unplugged.
void RefreshAssigned(const fs::path& dir, const std::vector<TAdapter>& adapters) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 4 || name.compare(name.size() - 3, 3, ".id") != 0) continue;
        auto number = NumberAfterPrefix(name.substr(0, name.size() - 3), "COM");
        if (!number) continue;
        const fs::path entry = dir / ("COM" + std::to_string(*number));
        std::error_code linkError;
        if (!EntryExists(entry)) {  // the operator removed the entry: the record goes with it
            fs::remove(it->path(), linkError);
            continue;
        }
        if (!fs::is_symlink(entry, linkError)) continue;
        const std::string identity = ReadIdentity(it->path());
        auto adapter = std::find_if(adapters.begin(), adapters.end(),
                                    [&](const TAdapter& a) { return a.Identity == identity; });
        const std::string wanted = adapter != adapters.end() ? adapter->Node : "unplugged-" + Safe(identity);
        if (fs::read_symlink(entry, linkError).string() != wanted && !linkError) Repoint(entry, wanted);
    }
}

// Creates COMn for the adapter; false when the number was taken meanwhile or cannot be written.
bool CreateEntry(const fs::path& dir, int number, const TAdapter& adapter) {
    const fs::path entry = dir / ("COM" + std::to_string(number));
    if (!adapter.ByIdLink.empty()) return symlink(adapter.ByIdLink.c_str(), entry.c_str()) == 0;

    const fs::path record = dir / IdentityFileName(number);
    const int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string text = adapter.Identity + "\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (written && symlink(adapter.Node.c_str(), entry.c_str()) == 0) return true;
    std::error_code ec;
    fs::remove(record, ec);
    return false;
}

// Holds the port directory locked, so that programs looking up ports at the
// same time do not give one adapter two numbers.
class TDirectoryLock {
public:
    explicit TDirectoryLock(const fs::path& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) flock(fd_, LOCK_EX);
    }
    ~TDirectoryLock() {
        if (fd_ >= 0) close(fd_);
    }
    TDirectoryLock(const TDirectoryLock&) = delete;
    TDirectoryLock& operator=(const TDirectoryLock&) = delete;

private:
    int fd_;
};

}  // namespace

std::string IdentityFileName(int number) { return "COM" + std::to_string(number) + ".id"; }

std::vector<TPortAssignment> AssignAdapterPorts(const TSysfsLocations& where) {
    std::vector<TPortAssignment> made;
    const fs::path dir = where.PortDir.empty() ? SysfsPortDirectory() : where.PortDir;
    const auto adapters = PresentAdapters(where);
    if (adapters.empty() && !Exists(dir)) return made;
    std::error_code ec;
    fs::create_directories(dir, ec);
    TDirectoryLock lock(dir);
    RefreshAssigned(dir, adapters);

    // What the entries reach now, and which numbers they hold.
    std::set<std::string> reached;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (NumberAfterPrefix(it->path().filename().string(), "COM"))
            if (auto target = Canonical(it->path()); !target.empty()) reached.insert(target);

    int next = 0;  // found when the first adapter needs a number
    for (const auto& adapter : adapters) {
        if (reached.count(Canonical(adapter.Node))) continue;
        if (next == 0) next = HighestBuiltInPort(where) + 1;
        for (; next <= kHighestPort; ++next) {
            const fs::path entry = dir / ("COM" + std::to_string(next));
            if (EntryExists(entry) || EntryExists(dir / IdentityFileName(next))) continue;
            if (!CreateEntry(dir, next, adapter)) continue;
            made.push_back({next, adapter.ByIdLink.empty() ? adapter.Node : adapter.ByIdLink, adapter.Identity});
            ++next;
            break;
        }
    }
    return made;
}

}  // namespace tolm
