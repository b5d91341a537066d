#pragma once
// Shows a form's transfer progress on stderr: a redrawn bar with packet
// number, percentage, speed and time left on a terminal, otherwise one line
// per 10 %.
#include <chrono>
#include <cstdio>

#include "toolkit/Controls.h"

namespace tolm::cli {

class ProgressView {
public:
    ProgressView(TProgressBar& bar, TPanel& packetCounter, std::FILE* out, bool interactive);
    // Ends a drawn bar's line.
    void Finish();

private:
    void Update();
    TProgressBar& bar_;
    TPanel& counter_;
    std::FILE* out_;
    bool interactive_;
    bool drawn_ = false;
    int lastTenth_ = -1;
    int lastMax_ = -1;
    int startPosition_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace tolm::cli
