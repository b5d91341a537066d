#pragma once
// Watches the nodes that ports reach, so that a station knows a device went
// (its adapter unplugged, the emulator's line closed) however short the gap
// before the next one came. For each port, the names on its way are watched:
// the port-map entry, each link it passes and the device node itself. Every
// creation, removal or renaming of one of them counts as a change of that
// port. The kernel queues each such event until it is read, so a node that
// goes and comes back between two looks is still seen to have changed; a
// comparison of the nodes' identities at each look backs it up.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tolm::cli {

class TPortNodeWatch {
public:
    // The paths a port starts from (its entry, and the node it falls back to);
    // asked again after each change, as the way may have changed.
    using TStartPaths = std::function<std::vector<std::string>()>;

    TPortNodeWatch();
    ~TPortNodeWatch();
    TPortNodeWatch(const TPortNodeWatch&) = delete;
    TPortNodeWatch& operator=(const TPortNodeWatch&) = delete;

    // Starts watching one more port; returns its index for Changes().
    size_t Add(TStartPaths startPaths);
    // Counts the changes that came since the last call; never waits.
    void Take();
    // The changes of a port counted so far.
    unsigned long Changes(size_t port) const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace tolm::cli
