#include "cli/Board.h"

#include <algorithm>

#include "cli/Consoletext.h"

namespace tolm::cli {

namespace {
constexpr int kBarWidth = 20;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string StateText(const TPortRow& row) {
    if (row.State == "waiting") return row.Condition.empty() ? "waiting" : "waiting (cannot open: " + row.Condition + ")";
    if (row.State == "upgrading") return "upgrading";
    if (row.State == "removal") {
        // A silent device on a port whose node never changes counts as gone when the count reaches 0.
        std::string text = "waiting for removal (" + (row.LastOutcome.empty() ? row.Outcome() : row.LastOutcome);
        if (row.SilenceLeft >= 0) text += "; silent, gone in " + std::to_string(row.SilenceLeft) + " s";
        return text + ")";
    }
    if (row.State == "done" || row.State == "ended") return "done: " + row.Outcome();
    return row.State;
}

std::string DeviceText(const TPortRow& row) {
    const auto& id = row.Identity;
    if (!id.TerminalName.empty()) return id.TerminalName;
    if (!id.ModelCode.empty()) return id.ModelCode;
    return id.TerminalID;
}

int Percent(const TPortRow& row) {
    if (row.Max <= row.Min) return 0;
    return static_cast<int>(100LL * (row.Position - row.Min) / (row.Max - row.Min));
}
}  // namespace

TBoard::TBoard(std::FILE* out, bool interactive) : out_(out), interactive_(interactive) {}

std::string TBoard::RowLine(const TPortRow& row, size_t labelWidth) {
    const int percent = Percent(row);
    const int filled = kBarWidth * percent / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-*s %-8s [%s] %3d%% %6.1f kB/s  %s", static_cast<int>(labelWidth),
                  row.Label.c_str(), DeviceText(row).c_str(), bar.c_str(), percent, row.BytesPerSecond / 1000.0,
                  StateText(row).c_str());
    return buf;
}

void TBoard::Erase() {
    if (drawnLines_ == 0) return;
    Printf(out_, "\x1b[%zuA\r\x1b[J", drawnLines_);
    drawnLines_ = 0;
}

void TBoard::Draw() {
    size_t width = 0;
    for (auto* row : rows_) width = std::max(width, row->Label.size());
    for (auto* row : rows_) Printf(out_, "%s\x1b[K\n", RowLine(*row, width).c_str());
    drawnLines_ = rows_.size();
    if (!status_.empty()) {
        Printf(out_, "%s\x1b[K\n", status_.c_str());
        ++drawnLines_;
    }
    std::fflush(out_);
    lastDraw_ = std::chrono::steady_clock::now();
}

void TBoard::Follow(const TPortRow& row) {
    Seen& seen = seen_[&row];
    if (row.State == "upgrading" && row.Position > row.Min) {
        const int tenth = Percent(row) / 10;
        if (tenth != seen.Tenth) {
            seen.Tenth = tenth;
            Printf(out_, "%s: progress %3d%% (packet %d of %d)\n", row.Label.c_str(), Percent(row),
                   row.Position, row.Max);
        }
    }
    if (row.State != seen.State) {
        seen.State = row.State;
        if (row.State == "upgrading") seen.Tenth = -1;
        if (row.State != "starting") Printf(out_, "%s: %s\n", row.Label.c_str(), StateText(row).c_str());
    }
}

void TBoard::Changed(bool force) {
    if (!interactive_) {
        for (auto* row : rows_) Follow(*row);
        std::fflush(out_);
        return;
    }
    if (!force && drawnLines_ != 0 && std::chrono::steady_clock::now() - lastDraw_ < kRedrawEvery) return;
    Erase();
    Draw();
}

void TBoard::Message(const TPortRow& row, const std::string& text) {
    if (interactive_) Erase();
    Printf(out_, "%s: %s\n", row.Label.c_str(), text.c_str());
    if (interactive_) Draw();
    std::fflush(out_);
}

void TBoard::SetStatus(const std::string& text) {
    if (text == status_) return;
    status_ = text;
    if (interactive_) {
        Changed(true);
    } else if (!text.empty()) {
        Printf(out_, "%s\n", text.c_str());
        std::fflush(out_);
    }
}

void TBoard::Message(const std::string& text) {
    if (interactive_) Erase();
    Printf(out_, "%s\n", text.c_str());
    if (interactive_) Draw();
    std::fflush(out_);
}

void TBoard::Finish() {
    Changed(true);
    drawnLines_ = 0;
}

}  // namespace tolm::cli
