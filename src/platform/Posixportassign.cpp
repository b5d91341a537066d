#include "platform/Posixportassign.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

namespace fs = std::filesystem;

namespace tolm {

namespace {

constexpr int kHighestPort = 255;  // the highest number a port name may carry
const char* const kAdapterPrefixes[] = {"ttyUSB", "ttyACM", "rfcomm"};
constexpr char kPlaceMark = '@';   // between a key's identity and its place; never part of either

// A serial adapter present now, with what tells it apart from the others.
struct TAdapter {
    std::string Prefix;
    int Line = 0;
    std::string Node;     // /dev/ttyUSB0
    std::string Base;     // vendor, product, serial number, interface: "usb-0403-6001-A600-if00"
    std::string Place;    // where it is plugged in: "1-2:1.0"
    bool Serial = false;  // Base carries a serial number (or a Bluetooth address)
    std::string Legacy;   // the identity that earlier versions recorded for it
    std::string Key;      // Base, or Base@Place where Base alone does not tell it apart
};

// What the record COMn.id says, and what the lookup decides for the entry.
struct TRecord {
    int Number = 0;
    std::string Key;
    std::string Place;        // where its adapter was last seen
    std::string Target;       // what the lookup last pointed COMn at
    bool Legacy = false;      // a one-line record of an earlier version
    std::string LinkTarget;   // what COMn points at now
    bool Drop = false;        // the entry is gone or the operator's: the record goes
    bool Rewrite = false;     // the record's text changes
    const TAdapter* Adapter = nullptr;
    std::string Wanted;       // what COMn should point at
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

// Keys end up in file names and file contents: keep them to one safe line.
std::string Safe(std::string text) {
    for (auto& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-' && c != ':') c = '_';
    return text;
}

std::string BaseOf(const std::string& key) { return key.substr(0, key.find(kPlaceMark)); }
std::string WithPlace(const std::string& base, const std::string& place) { return base + kPlaceMark + place; }
std::string Unplugged(const std::string& key) { return "unplugged-" + Safe(key); }
fs::path Entry(const fs::path& dir, int number) { return dir / ("COM" + std::to_string(number)); }

// Fills what tells the adapter apart; false when sysfs tells nothing of it.
bool Identify(TAdapter& adapter, const TSerialPortInfo& info) {
    if (info.Kind == TSerialPortKind::Usb) {
        adapter.Serial = !info.UsbSerial.empty();
        adapter.Base = Safe("usb-" + info.UsbVendorId + "-" + info.UsbProductId +
                            (adapter.Serial ? "-" + info.UsbSerial : "") + "-if" + info.UsbInterface +
                            (info.UsbPortInInterface.empty() ? "" : "-port" + info.UsbPortInInterface));
        adapter.Place = Safe(info.UsbPlace);
        adapter.Legacy = Safe("usb-" + info.UsbVendorId + "-" + info.UsbProductId + "-" +
                              (adapter.Serial ? info.UsbSerial : "at-" + info.UsbLocation));
        return true;
    }
    if (info.Kind == TSerialPortKind::Bluetooth && !info.BluetoothAddress.empty()) {
        adapter.Serial = true;
        adapter.Base = Safe("bluetooth-" + info.BluetoothAddress +
                            (info.BluetoothChannel.empty() ? "" : "-" + info.BluetoothChannel));
        adapter.Place = Safe(info.KernelName);
        adapter.Legacy = adapter.Base;
        return true;
    }
    return false;
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
            TAdapter adapter;
            adapter.Prefix = prefix;
            adapter.Line = *line;
            adapter.Node = (fs::path(where.DevRoot) / name).string();
            if (Exists(adapter.Node) && Identify(adapter, DescribeTty(name, where))) adapters.push_back(adapter);
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

// A link that the lookup of an earlier version made: to an adapter's tty, or to nothing.
bool EarlierLookupTarget(const std::string& target, const TSysfsLocations& where) {
    if (target.rfind("unplugged-", 0) == 0) return true;
    const fs::path path(target);
    if (path.parent_path() != fs::path(where.DevRoot)) return false;
    for (const char* prefix : kAdapterPrefixes)
        if (NumberAfterPrefix(path.filename().string(), prefix)) return true;
    return false;
}

std::vector<TRecord> ReadRecords(const fs::path& dir, const TSysfsLocations& where) {
    std::vector<TRecord> records;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 4 || name.compare(name.size() - 3, 3, ".id") != 0) continue;
        auto number = NumberAfterPrefix(name.substr(0, name.size() - 3), "COM");
        if (!number || *number < 1) continue;
        TRecord record;
        record.Number = *number;
        std::ifstream in(it->path());
        std::getline(in, record.Key);
        bool hasTarget = false;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("at ", 0) == 0) record.Place = line.substr(3);
            if (line.rfind("to ", 0) == 0) record.Target = line.substr(3), hasTarget = true;
        }
        record.Legacy = !hasTarget;
        const fs::path entry = Entry(dir, *number);
        std::error_code linkError;
        // The entry removed (ports unlink, or by hand), or replaced by something
        // that is not the lookup's: the number is the operator's now.
        if (!EntryExists(entry) || !fs::is_symlink(fs::symlink_status(entry, linkError))) {
            record.Drop = true;
        } else {
            record.LinkTarget = fs::read_symlink(entry, linkError).string();
            const bool ours = record.Legacy ? EarlierLookupTarget(record.LinkTarget, where)
                                            : record.LinkTarget == record.Target || record.LinkTarget == Unplugged(record.Key);
            record.Drop = linkError || record.Key.empty() || !ours;
        }
        records.push_back(record);
    }
    std::sort(records.begin(), records.end(), [](const TRecord& a, const TRecord& b) { return a.Number < b.Number; });
    return records;
}

// Decides, from the adapters present and the records, which adapter each
// record's number belongs to and where its entry must point. Writes nothing.
void Plan(std::vector<TRecord>& records, std::vector<TAdapter>& adapters) {
    // Records of earlier versions: the first present adapter they describe takes them over.
    std::set<const TAdapter*> claimed;
    for (auto& record : records) {
        if (record.Drop || !record.Legacy) continue;
        for (const auto& adapter : adapters) {
            if (adapter.Legacy != record.Key || claimed.count(&adapter)) continue;
            claimed.insert(&adapter);
            record.Key = adapter.Base;
            record.Place = adapter.Place;
            record.Legacy = false;
            record.Rewrite = true;
            break;
        }
    }

    // An identity that does not tell its adapter apart needs the place too:
    // no serial number, two adapters present with it, or one known to be shared.
    std::map<std::string, int> present, recorded;
    std::set<std::string> shared;
    for (const auto& adapter : adapters) {
        if (!adapter.Serial) shared.insert(adapter.Base);
        if (++present[adapter.Base] > 1) shared.insert(adapter.Base);
    }
    for (const auto& record : records) {
        if (record.Drop || record.Legacy) continue;
        if (record.Key.find(kPlaceMark) != std::string::npos) shared.insert(BaseOf(record.Key));
        if (++recorded[BaseOf(record.Key)] > 1) shared.insert(BaseOf(record.Key));
    }
    for (auto& record : records) {
        if (record.Drop || record.Legacy || record.Key.find(kPlaceMark) != std::string::npos) continue;
        if (shared.count(record.Key) && !record.Place.empty()) {
            record.Key = WithPlace(record.Key, record.Place);
            record.Rewrite = true;
        }
    }
    std::map<std::string, int> keyCount;
    for (auto& adapter : adapters) {
        adapter.Key = shared.count(adapter.Base) ? WithPlace(adapter.Base, adapter.Place) : adapter.Base;
        ++keyCount[adapter.Key];
    }

    // Each record to the one adapter with its key; a key that two adapters
    // present (which their places rule out) is given to neither.
    std::set<const TAdapter*> taken;
    for (auto& record : records) {
        if (record.Drop) continue;
        for (const auto& adapter : adapters) {
            if (record.Legacy || adapter.Key != record.Key || keyCount[adapter.Key] != 1 || taken.count(&adapter))
                continue;
            record.Adapter = &adapter;
            taken.insert(&adapter);
            if (record.Place != adapter.Place) {  // moved to another socket (its key has no place)
                record.Place = adapter.Place;
                record.Rewrite = true;
            }
            break;
        }
        record.Wanted = record.Adapter ? record.Adapter->Node : Unplugged(record.Key);
        if (!record.Legacy && record.Target != record.Wanted) record.Rewrite = true;
    }
}

// Writes a file through a temporary one, so that it is never seen half written.
bool WriteFileAtomically(const fs::path& file, const std::string& text) {
    const fs::path temporary = file.string() + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (written && rename(temporary.c_str(), file.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

// Replaces the link at entry by one to target; the rename keeps the entry present throughout.
bool Repoint(const fs::path& entry, const std::string& target) {
    const fs::path temporary = entry.string() + ".new";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) return false;
    if (rename(temporary.c_str(), entry.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

std::string RecordText(const std::string& key, const std::string& place, const std::string& target) {
    return key + "\nat " + place + "\nto " + target + "\n";
}

// Carries out the plan: the link first, then its record, so that a record
// never names a target its link does not have yet.
void ApplyPlan(const fs::path& dir, const std::vector<TRecord>& records) {
    for (const auto& record : records) {
        const fs::path file = dir / IdentityFileName(record.Number);
        if (record.Drop) {
            unlink(file.c_str());
            continue;
        }
        if (record.LinkTarget != record.Wanted && !Repoint(Entry(dir, record.Number), record.Wanted)) continue;
        if (record.Rewrite) WriteFileAtomically(file, RecordText(record.Key, record.Place, record.Wanted));
    }
}

// Whether COMn points where the plan wants it (true for any entry without a record).
bool EntryAsPlanned(const std::vector<TRecord>& records, int number) {
    for (const auto& record : records)
        if (record.Number == number && !record.Drop) return record.LinkTarget == record.Wanted;
    return true;
}

// Creates COMn for the adapter: the record first (which claims the number),
// then the link; false when the number was taken or cannot be written.
bool CreateEntry(const fs::path& dir, int number, const TAdapter& adapter) {
    const fs::path record = dir / IdentityFileName(number);
    const int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    const std::string text = RecordText(adapter.Key, adapter.Place, adapter.Node);
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (written && symlink(adapter.Node.c_str(), Entry(dir, number).c_str()) == 0) return true;
    unlink(record.c_str());
    return false;
}

// Gives the lowest free numbers above the built-in ports to the adapters that no entry reaches.
std::vector<TPortAssignment> NumberNewAdapters(const fs::path& dir, const std::vector<TAdapter>& adapters,
                                               const TSysfsLocations& where) {
    std::vector<TPortAssignment> made;
    std::set<std::string> reached;
    std::map<std::string, int> keyCount;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (NumberAfterPrefix(it->path().filename().string(), "COM"))
            if (auto target = Canonical(it->path()); !target.empty()) reached.insert(target);
    for (const auto& adapter : adapters) ++keyCount[adapter.Key];

    int next = 0;  // found when the first adapter needs a number
    for (const auto& adapter : adapters) {
        if (reached.count(Canonical(adapter.Node)) || keyCount[adapter.Key] != 1) continue;
        if (next == 0) next = HighestBuiltInPort(where) + 1;
        for (; next <= kHighestPort; ++next) {
            if (EntryExists(Entry(dir, next)) || EntryExists(dir / IdentityFileName(next))) continue;
            if (!CreateEntry(dir, next, adapter)) continue;
            made.push_back({next, adapter.Node, adapter.Key});
            ++next;
            break;
        }
    }
    return made;
}

// Holds the port directory locked, so that programs looking up or editing
// ports at the same time never interleave their edits.
class TDirectoryLock {
public:
    explicit TDirectoryLock(const fs::path& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        int result = -1;
        if (fd_ >= 0)
            while ((result = flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
            }
        if (result != 0) {
            error_ = errno;
            if (fd_ >= 0) close(fd_);
            fd_ = -1;
        }
    }
    ~TDirectoryLock() {
        if (fd_ >= 0) close(fd_);
    }
    TDirectoryLock(const TDirectoryLock&) = delete;
    TDirectoryLock& operator=(const TDirectoryLock&) = delete;
    bool Locked() const { return fd_ >= 0; }
    int Error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
};

std::string NoDirectoryText() {
    return "no port directory: set TOLM_PORT_DIR to the folder for the port numbers (this account has no home "
           "folder, and XDG_CONFIG_HOME is not set)";
}

std::string LockFailedText(const fs::path& dir, int error) {
    return "cannot lock the port directory " + dir.string() + ": " + std::strerror(error) +
           "; no port number was given or brought up to date";
}

fs::path PortDirectoryOf(const TSysfsLocations& where) {
    return where.PortDir.empty() ? fs::path(SysfsPortDirectory()) : fs::path(where.PortDir);
}

// One lookup under the lock; with a port number, also what that number reaches then.
TPortLookup RunLookup(const TSysfsLocations& where, int port, TPortResolution* resolution) {
    TPortLookup lookup;
    const fs::path dir = PortDirectoryOf(where);
    auto builtIn = [&] {
        if (resolution) *resolution = {"/dev/ttyS" + std::to_string(port - 1), 0};
    };
    if (dir.empty()) {
        lookup.Problem = NoDirectoryText();
        builtIn();
        return lookup;
    }
    auto adapters = PresentAdapters(where);
    if (!Exists(dir)) {
        if (adapters.empty()) {  // nothing to number, nothing linked
            builtIn();
            return lookup;
        }
        std::error_code ec;
        fs::create_directories(dir, ec);
    }
    TDirectoryLock lock(dir);
    auto records = ReadRecords(dir, where);
    Plan(records, adapters);
    if (lock.Locked()) {
        ApplyPlan(dir, records);
        lookup.Made = NumberNewAdapters(dir, adapters, where);
    } else {
        lookup.Problem = LockFailedText(dir, lock.Error());
    }
    if (!resolution) return lookup;

    const fs::path entry = Entry(dir, port);
    if (!EntryExists(entry)) {
        builtIn();
    } else if (!lock.Locked() && !EntryAsPlanned(records, port)) {
        *resolution = {{}, ENOLCK};  // an automatic number that may reach another adapter now
    } else {
        const std::string device = Canonical(entry);
        // A dangling entry is opened as it is, so that the open fails as it should.
        *resolution = {device.empty() ? entry.string() : device, 0};
    }
    return lookup;
}

}  // namespace

std::string IdentityFileName(int number) { return "COM" + std::to_string(number) + ".id"; }

TPortLookup AssignAdapterPorts(const TSysfsLocations& where) { return RunLookup(where, 0, nullptr); }

TPortResolution ResolvePortNumber(int port, const TSysfsLocations& where) {
    TPortResolution resolution;
    RunLookup(where, port, &resolution);
    return resolution;
}

std::string LinkPortEntry(int port, const std::string& device, const TSysfsLocations& where) {
    const fs::path dir = PortDirectoryOf(where);
    if (dir.empty()) return NoDirectoryText();
    std::error_code ec;
    fs::create_directories(dir, ec);
    TDirectoryLock lock(dir);
    if (!lock.Locked()) return LockFailedText(dir, lock.Error());
    const fs::path entry = Entry(dir, port);
    if (!Repoint(entry, device)) return "cannot create " + entry.string() + ": " + std::strerror(errno);
    unlink((dir / IdentityFileName(port)).c_str());  // the number is the operator's now
    return {};
}

std::string UnlinkPortEntry(int port, const TSysfsLocations& where) {
    const fs::path dir = PortDirectoryOf(where);
    if (dir.empty()) return NoDirectoryText();
    const fs::path entry = Entry(dir, port);
    if (!EntryExists(entry)) return "COM" + std::to_string(port) + " is not linked (" + entry.string() + ")";
    TDirectoryLock lock(dir);
    if (!lock.Locked()) return LockFailedText(dir, lock.Error());
    if (unlink(entry.c_str()) != 0 && errno != ENOENT)
        return "cannot remove " + entry.string() + ": " + std::strerror(errno);
    unlink((dir / IdentityFileName(port)).c_str());
    return {};
}

}  // namespace tolm
