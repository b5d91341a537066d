#pragma once
// Shows the runs of several ports on stderr. On a terminal: a board redrawn
// in place, one line per port (port, device, bar, %, speed, state), with the
// runs' messages printed above it. Off a terminal: lines prefixed with the
// port, a progress line per 10 % and one per change of state.
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/Portrun.h"

namespace tolm::cli {

class TBoard {
public:
    TBoard(std::FILE* out, bool interactive);
    // The rows to show, in order; they must outlive the board's use.
    void SetRows(std::vector<const TPortRow*> rows) { rows_ = std::move(rows); }
    // Something in a row changed; redraws (at most ten times a second unless forced).
    void Changed(bool force = false);
    // A message of one port's run.
    void Message(const TPortRow& row, const std::string& text);
    // A line below the ports about the station as a whole (empty: none).
    // Off a terminal it is printed when it changes.
    void SetStatus(const std::string& text);
    // A message about the station as a whole.
    void Message(const std::string& text);
    // Draws the last state and leaves the board.
    void Finish();

    // The board line of a row, width characters at most (without colour).
    static std::string RowLine(const TPortRow& row, size_t labelWidth);

private:
    void Erase();
    void Draw();
    void Follow(const TPortRow& row);
    std::FILE* out_;
    bool interactive_;
    std::vector<const TPortRow*> rows_;
    std::string status_;
    size_t drawnLines_ = 0;
    std::chrono::steady_clock::time_point lastDraw_;
    struct Seen {
        std::string State;
        int Tenth = -1;
    };
    std::map<const TPortRow*, Seen> seen_;
};

}  // namespace tolm::cli
