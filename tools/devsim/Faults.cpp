#include "Faults.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

namespace tolm::devsim {

namespace {
const std::map<std::string, FaultKind>& Kinds() {
    static const std::map<std::string, FaultKind> kinds{
        {"drop", FaultKind::Drop},   {"corrupt", FaultKind::Corrupt}, {"length", FaultKind::Length},
        {"split", FaultKind::Split}, {"delay", FaultKind::Delay},     {"twice", FaultKind::Twice},
        {"noise", FaultKind::Noise}, {"vanish", FaultKind::Vanish},
    };
    return kinds;
}

std::vector<std::string> SplitOn(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep)) parts.push_back(part);
    if (!text.empty() && text.back() == sep) parts.emplace_back();
    return parts;
}

bool ParseLong(const std::string& text, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end && *end == '\0';
}

// "5,9,12-14" into ranges of reply numbers (1 and up).
bool ParseReplies(const std::string& text, std::vector<std::pair<long, long>>& ranges) {
    for (const std::string& item : SplitOn(text, ',')) {
        long from = 0, to = 0;
        auto dash = item.find('-');
        bool ok = dash == std::string::npos
                      ? ParseLong(item, from) && (to = from, true)
                      : ParseLong(item.substr(0, dash), from) && ParseLong(item.substr(dash + 1), to);
        if (!ok || from < 1 || to < from) return false;
        ranges.emplace_back(from, to);
    }
    return !ranges.empty();
}
}  // namespace

const char* Fault::Help() {
    return "--fault KIND:WHEN[:KEY=VALUE]...  (repeatable)\n"
           "  WHEN: reply numbers and ranges, 5,9,12-14 (replies are counted from 1 over every answer the\n"
           "        device writes to a request; a request sent again gets the next number, so drop:7-9 is three\n"
           "        losses in a row), or rate=P (0..1) with seed=N (default 1)\n"
           "  drop      the reply is not sent\n"
           "  corrupt   one byte is inverted; at=I its index (negative from the end; default the middle)\n"
           "  length    the reply is cut or padded; by=N bytes (default -1: the last byte is missing)\n"
           "  split     the reply goes out in two writes; at=N bytes first (default half), ms=GAP (default 50)\n"
           "  delay     the reply goes out late; ms=N (default 1500, past the host's 1000 ms time-out)\n"
           "  twice     the reply is sent two times; ms=GAP between them (default 0)\n"
           "  noise     after the reply, unsolicited bytes; bytes=N (default 8), ms=GAP after the reply (default 60)\n"
           "  vanish    instead of the reply the pty goes away (master and slave closed, link removed),\n"
           "            as an unplugged adapter; back=MS: a new pty at the same link after MS (default: never)\n"
           "--fault-log FILE  appends a line for every fault that fires (\"reply 7: drop\")\n";
}

std::optional<Fault> Fault::Parse(const std::string& text, std::string& error) {
    const std::vector<std::string> parts = SplitOn(text, ':');
    Fault f;
    auto kind = parts.empty() ? Kinds().end() : Kinds().find(parts[0]);
    if (kind == Kinds().end()) {
        error = "unknown fault kind in '" + text + "' (drop corrupt length split delay twice noise vanish)";
        return std::nullopt;
    }
    f.kind = kind->second;
    if (parts.size() < 2) {
        error = "fault '" + text + "' needs the replies it hits (5,9-11 or rate=P)";
        return std::nullopt;
    }
    const std::string& when = parts[1];
    if (when.rfind("rate=", 0) == 0) {
        char* end = nullptr;
        f.rate = std::strtod(when.c_str() + 5, &end);
        if (!end || *end != '\0' || f.rate <= 0 || f.rate > 1) {
            error = "fault rate must be above 0 and at most 1: '" + text + "'";
            return std::nullopt;
        }
    } else if (!ParseReplies(when, f.replies)) {
        error = "fault replies must be numbers or ranges from 1, such as 5,9-11: '" + text + "'";
        return std::nullopt;
    }
    for (size_t i = 2; i < parts.size(); ++i) {
        auto eq = parts[i].find('=');
        long value = 0;
        if (eq == std::string::npos || !ParseLong(parts[i].substr(eq + 1), value)) {
            error = "fault option must be KEY=NUMBER: '" + parts[i] + "'";
            return std::nullopt;
        }
        const std::string key = parts[i].substr(0, eq);
        const bool timed = f.kind == FaultKind::Delay || f.kind == FaultKind::Split || f.kind == FaultKind::Twice ||
                           f.kind == FaultKind::Noise;
        if (key == "seed") {
            f.seed = static_cast<uint32_t>(value);
        } else if (key == "at" && (f.kind == FaultKind::Corrupt || f.kind == FaultKind::Split)) {
            f.at = static_cast<int>(value);
        } else if (key == "by" && f.kind == FaultKind::Length && value != 0) {
            f.by = static_cast<int>(value);
        } else if (key == "ms" && timed && value >= 0) {
            f.ms = static_cast<int>(value);
        } else if (key == "bytes" && f.kind == FaultKind::Noise && value > 0) {
            f.bytes = static_cast<int>(value);
        } else if (key == "back" && f.kind == FaultKind::Vanish && value >= 0) {
            f.backMs = static_cast<int>(value);
        } else {
            error = "fault option '" + parts[i] + "' does not fit " + parts[0];
            return std::nullopt;
        }
    }
    if (f.ms < 0) {
        switch (f.kind) {
            case FaultKind::Delay: f.ms = 1500; break;
            case FaultKind::Split: f.ms = 50; break;
            case FaultKind::Noise: f.ms = 60; break;
            default: f.ms = 0; break;
        }
    }
    return f;
}

FaultyLine::FaultyLine(Line& inner, std::vector<Fault> faults, std::function<bool()> stopRequested,
                       std::function<void(const std::string&)> log)
    : inner_(&inner), faults_(std::move(faults)), stopRequested_(std::move(stopRequested)), log_(std::move(log)) {
    for (size_t i = 0; i < faults_.size(); ++i) random_.emplace_back(faults_[i].seed + static_cast<uint32_t>(i));
}

bool FaultyLine::Hits(size_t index, long reply) {
    const Fault& f = faults_[index];
    if (f.replies.empty()) return std::uniform_real_distribution<double>(0, 1)(random_[index]) < f.rate;
    for (auto& [from, to] : f.replies)
        if (reply >= from && reply <= to) return true;
    return false;
}

void FaultyLine::Tell(long reply, const std::string& what) {
    if (log_) log_("reply " + std::to_string(reply) + ": " + what);
}

bool FaultyLine::Wait(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (stopRequested_ && stopRequested_()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - std::chrono::steady_clock::now(), std::chrono::milliseconds(10)));
    }
    return true;
}

bool FaultyLine::TakeVanish(int& backMs) {
    if (!vanish_) return false;
    vanish_ = false;
    backMs = vanishBackMs_;
    return true;
}

void FaultyLine::Write(const TByteBuffer& reply) {
    const long number = ++replies_;
    // Which faults hit this reply; every rate draws once per reply, so a
    // seed gives the same run whatever else is set.
    std::vector<const Fault*> hits(static_cast<size_t>(FaultKind::Vanish) + 1, nullptr);
    for (size_t i = 0; i < faults_.size(); ++i)
        if (Hits(i, number) && !hits[static_cast<size_t>(faults_[i].kind)])
            hits[static_cast<size_t>(faults_[i].kind)] = &faults_[i];
    auto hit = [&](FaultKind kind) { return hits[static_cast<size_t>(kind)]; };

    if (const Fault* f = hit(FaultKind::Vanish)) {
        Tell(number, "vanish");
        vanish_ = true;
        vanishBackMs_ = f->backMs;
        return;
    }
    if (hit(FaultKind::Drop)) {
        Tell(number, "drop");
        return;
    }
    TByteBuffer bytes = reply;
    if (const Fault* f = hit(FaultKind::Corrupt); f && !bytes.IsEmpty()) {
        int at = f->at == -1 ? bytes.Length() / 2 : (f->at < 0 ? bytes.Length() + f->at : f->at);
        if (at >= 0 && at < bytes.Length()) {
            bytes[at] = static_cast<uint8_t>(~bytes[at]);
            Tell(number, "corrupt byte " + std::to_string(at));
        }
    }
    if (const Fault* f = hit(FaultKind::Length)) {
        if (f->by > 0) {
            bytes.Append(TByteBuffer(f->by, 0x00));
        } else {
            bytes.SetLength(std::max(0, bytes.Length() + f->by));
        }
        Tell(number, "length " + std::to_string(bytes.Length()) + " of " + std::to_string(reply.Length()));
    }
    if (const Fault* f = hit(FaultKind::Delay)) {
        Tell(number, "delay " + std::to_string(f->ms) + " ms");
        if (!Wait(f->ms)) return;
    }
    if (const Fault* f = hit(FaultKind::Split); f && bytes.Length() > 1) {
        const int first = (f->at > 0 && f->at < bytes.Length()) ? f->at : bytes.Length() / 2;
        Tell(number, "split after " + std::to_string(first) + " bytes, gap " + std::to_string(f->ms) + " ms");
        inner_->Write(bytes.Mid(0, first));
        if (!Wait(f->ms)) return;
        inner_->Write(bytes.Mid(first, bytes.Length() - first));
    } else if (const Fault* t = hit(FaultKind::Twice)) {
        Tell(number, "twice");
        inner_->Write(bytes);
        if (!Wait(t->ms)) return;
        inner_->Write(bytes);
    } else {
        inner_->Write(bytes);
    }
    if (const Fault* f = hit(FaultKind::Noise)) {
        if (!Wait(f->ms)) return;
        auto& random = random_[static_cast<size_t>(f - faults_.data())];
        TByteBuffer noise;
        for (int i = 0; i < f->bytes; ++i) noise.Append(TByteBuffer{static_cast<uint8_t>(random() & 0xFF)});
        Tell(number, "noise " + std::to_string(f->bytes) + " bytes");
        inner_->Write(noise);
    }
}

}  // namespace tolm::devsim
