#pragma once
// Line faults for tolm-devsim run: `--fault KIND:WHEN[:KEY=VALUE]...`.
//
// WHEN names the replies a fault hits, counted from 1 over every reply the
// device writes in answer to a request (announcements and other writes while
// the line is quiet are not counted and never faulted). It is a list of reply
// numbers and ranges ("5,9,12-14") or a rate ("rate=0.1", drawn from a
// generator seeded with seed=N, so a run can be repeated). A request the host
// sends again after a lost reply is answered by the next reply number, so
// "drop:7-9" loses three answers in a row to one request.
//
// A reply hit by several faults meets them in this order: vanish, drop,
// corrupt, length, delay, split or twice, noise.
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Device.h"

namespace tolm::devsim {

enum class FaultKind { Drop, Corrupt, Length, Split, Delay, Twice, Noise, Vanish };

struct Fault {
    FaultKind kind = FaultKind::Drop;
    std::vector<std::pair<long, long>> replies;  // inclusive ranges of reply numbers
    double rate = 0;                             // used when replies is empty
    uint32_t seed = 1;
    int at = -1;        // corrupt: index of the byte (from the end when < 0, -1: the middle); split: bytes of the first write
    int by = -1;        // length: bytes added (> 0, zeros) or cut from the end (< 0)
    int ms = -1;        // delay: how long; split, twice, noise: the gap before the second write
    int bytes = 8;      // noise: how many bytes
    int backMs = -1;    // vanish: when the line comes back; -1 never

    // Parses "KIND:WHEN[:KEY=VALUE]..."; nullopt with a reason when it cannot.
    static std::optional<Fault> Parse(const std::string& text, std::string& error);
    static const char* Help();
};

// The device's line seen through the faults: each reply written through it
// is counted and may be lost, changed, delayed, split, doubled or followed by
// noise. A vanish fault only raises a flag; the server takes the line away.
class FaultyLine : public Line {
public:
    // stopRequested: checked while waiting, so a stop is never kept waiting.
    // log: where each fault that fires is told ("reply 7: drop"); may be empty.
    FaultyLine(Line& inner, std::vector<Fault> faults, std::function<bool()> stopRequested,
               std::function<void(const std::string&)> log = {});

    void Write(const TByteBuffer& reply) override;
    // The line the replies go to, after a vanished line came back.
    void SetInner(Line& inner) { inner_ = &inner; }
    long Replies() const { return replies_; }
    // True once after a vanish fault fired; backMs then says when the line returns (-1 never).
    bool TakeVanish(int& backMs);
    bool VanishPending() const { return vanish_; }

private:
    bool Hits(size_t index, long reply);
    void Tell(long reply, const std::string& what);
    // Waits ms; false when a stop came first.
    bool Wait(int ms);

    Line* inner_;
    std::vector<Fault> faults_;
    std::vector<std::mt19937> random_;  // one per fault
    std::function<bool()> stopRequested_;
    std::function<void(const std::string&)> log_;
    long replies_ = 0;
    bool vanish_ = false;
    int vanishBackMs_ = -1;
};

}  // namespace tolm::devsim
