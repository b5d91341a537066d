#include "cli/Portnodewatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <map>
#include <set>

namespace tolm::cli {

namespace fs = std::filesystem;

namespace {
constexpr int kMostLinks = 16;
constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

// Each path on the way from start: the start itself, then every link's target.
std::vector<fs::path> Way(const fs::path& start) {
    std::vector<fs::path> way{start.lexically_normal()};
    for (int i = 0; i < kMostLinks; ++i) {
        std::error_code ec;
        if (!fs::is_symlink(way.back(), ec)) break;
        const fs::path target = fs::read_symlink(way.back(), ec);
        if (ec) break;
        way.push_back((target.is_absolute() ? target : way.back().parent_path() / target).lexically_normal());
    }
    return way;
}

// What a look at the way sees: each name with its node's identity, or "-" for none.
std::string Signature(const std::vector<fs::path>& way) {
    std::string text;
    for (const auto& path : way) {
        struct stat st {};
        text += path.string() + "=";
        text += lstat(path.c_str(), &st) == 0
                    ? std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_rdev)
                    : std::string("-");
        text += ";";
    }
    return text;
}
}  // namespace

struct TPortNodeWatch::TImpl {
    struct TPort {
        TStartPaths Start;
        unsigned long Changes = 0;
        std::string Signature;
        std::set<std::pair<int, std::string>> Watched;  // (watch, name in its folder)
    };
    int fd = -1;
    std::map<std::string, int> watchOfFolder;
    std::vector<TPort> ports;

    // Watches the name of path in its folder; a folder that is missing is
    // watched for in the nearest folder above it that exists.
    void WatchName(TPort& port, fs::path path) {
        if (fd < 0) return;
        fs::path folder = path.parent_path();
        std::string name = path.filename().string();
        std::error_code ec;
        while (!folder.empty() && folder != folder.root_path() && !fs::is_directory(folder, ec)) {
            name = folder.filename().string();
            folder = folder.parent_path();
        }
        if (folder.empty()) return;
        auto found = watchOfFolder.find(folder.string());
        int wd = found == watchOfFolder.end() ? -1 : found->second;
        if (wd < 0) {
            wd = inotify_add_watch(fd, folder.c_str(), kEvents | IN_ONLYDIR);
            if (wd < 0) return;
            watchOfFolder[folder.string()] = wd;
        }
        port.Watched.insert({wd, name});
    }

    void Follow(TPort& port) {
        port.Watched.clear();
        std::string signature;
        for (const auto& start : port.Start()) {
            const auto way = Way(start);
            for (const auto& path : way) WatchName(port, path);
            signature += Signature(way);
        }
        port.Signature = signature;
    }

    void Forget(int wd) {
        for (auto it = watchOfFolder.begin(); it != watchOfFolder.end(); ++it) {
            if (it->second == wd) {
                watchOfFolder.erase(it);
                return;
            }
        }
    }
};

TPortNodeWatch::TPortNodeWatch() : impl_(std::make_unique<TImpl>()) {
    impl_->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

TPortNodeWatch::~TPortNodeWatch() {
    if (impl_->fd >= 0) close(impl_->fd);
}

size_t TPortNodeWatch::Add(TStartPaths startPaths) {
    impl_->ports.push_back({std::move(startPaths), 0, {}, {}});
    impl_->Follow(impl_->ports.back());
    return impl_->ports.size() - 1;
}

void TPortNodeWatch::Take() {
    std::vector<bool> changed(impl_->ports.size(), false);
    alignas(inotify_event) char buf[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    while (impl_->fd >= 0) {
        const ssize_t n = read(impl_->fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const std::string name = event->len > 0 ? event->name : "";
            // A lost queue: every port may have changed. A folder gone: the
            // ports whose way runs through it.
            const bool everyPort = (event->mask & IN_Q_OVERFLOW) != 0;
            const bool folderGone = (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0;
            if (folderGone) impl_->Forget(event->wd);
            for (size_t i = 0; i < impl_->ports.size(); ++i) {
                const auto& watched = impl_->ports[i].Watched;
                const auto inFolder = watched.lower_bound({event->wd, std::string()});
                const bool throughFolder = inFolder != watched.end() && inFolder->first == event->wd;
                if (everyPort || (folderGone && throughFolder) || watched.count({event->wd, name})) changed[i] = true;
            }
        }
    }
    for (size_t i = 0; i < impl_->ports.size(); ++i) {
        auto& port = impl_->ports[i];
        const std::string before = port.Signature;
        impl_->Follow(port);
        if (changed[i] || port.Signature != before) ++port.Changes;
    }
}

unsigned long TPortNodeWatch::Changes(size_t port) const { return impl_->ports.at(port).Changes; }

}  // namespace tolm::cli
