#include "cli/Progressview.h"

#include <string>

#include "cli/Consoletext.h"

namespace tolm::cli {

ProgressView::ProgressView(TProgressBar& bar, TPanel& packetCounter, std::FILE* out, bool interactive)
    : bar_(bar), counter_(packetCounter), out_(out), interactive_(interactive) {
    bar_.AddObserver([this](TControl&, TChange change) {
        if (change == TChange::Position || change == TChange::Range) Update();
    });
}

void ProgressView::Update() {
    const int min = bar_.Min(), max = bar_.Max(), pos = bar_.Position();
    if (max <= min) return;
    auto now = std::chrono::steady_clock::now();
    if (max != lastMax_) {
        // A new transfer (or a new range): restart the speed measurement.
        lastMax_ = max;
        lastTenth_ = -1;
        startPosition_ = pos;
        start_ = now;
    }
    if (pos == min && lastTenth_ < 0) {
        start_ = now;
        startPosition_ = pos;
    }
    const int percent = static_cast<int>(100LL * (pos - min) / (max - min));
    if (!interactive_) {
        const int tenth = percent / 10;
        if (pos > min && tenth != lastTenth_) {
            lastTenth_ = tenth;
            Printf(out_, "progress %3d%% (packet %s of %d)\n", percent, counter_.Caption().c_str(), max);
            std::fflush(out_);
        }
        return;
    }
    // Redraw at most 20 times a second, and always at the end of the range.
    if (pos != max && drawn_ && now - lastDraw_ < std::chrono::milliseconds(50)) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0.2 ? (pos - startPosition_) / seconds : 0.0;
    std::string left = "--:--";
    if (rate > 0) {
        int remaining = static_cast<int>((max - pos) / rate + 0.5);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%d:%02d", remaining / 60, remaining % 60);
        left = buf;
    }
    constexpr int width = 30;
    const int filled = width * percent / 100;
    std::string barText(static_cast<size_t>(filled), '#');
    barText.append(static_cast<size_t>(width - filled), '.');
    Printf(out_, "\r[%s] packet %-4s %3d%%  %5.1f pkt/s  %s left ", barText.c_str(), counter_.Caption().c_str(),
           percent, rate, left.c_str());
    std::fflush(out_);
    drawn_ = true;
}

void ProgressView::Finish() {
    if (drawn_) Print(out_, "\n");
    drawn_ = false;
}

}  // namespace tolm::cli
