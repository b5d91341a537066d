#pragma once
// A station's note of every attempt it lets begin, beside its results file
// ("bench.csv" has "bench.csv.journal"), put on the disk before the attempt's
// first byte. A station that dies (killed, a crash, a power cut) leaves
// attempts without their lines; the next station on the same file gives each
// of them its line ("Upgrade stopped (the station ended)"), so that no attempt
// is ever without one. A station that ends in order leaves no journal.
#include <chrono>
#include <string>
#include <vector>

#include "cli/Portrun.h"

namespace tolm::cli {

inline constexpr const char* kStationEndedResult = "Upgrade stopped (the station ended)";

class TAttemptJournal {
public:
    explicit TAttemptJournal(const std::string& resultsPath);
    ~TAttemptJournal();
    TAttemptJournal(const TAttemptJournal&) = delete;
    TAttemptJournal& operator=(const TAttemptJournal&) = delete;
    const std::string& Path() const { return path_; }

    // The attempts that an earlier station noted and never closed, each as a
    // row whose line says that it was stopped (its time unknown), with the
    // firmware hash and start it had. False, with why, when the journal
    // cannot be read; a missing journal holds none.
    bool LeftOpen(std::vector<TPortRow>& rows, std::string& why) const;
    // Starts this station's journal afresh (what an earlier one left has
    // been taken by LeftOpen).
    bool Start(std::string& why);
    // Notes an attempt about to begin (row's attempt ID, start, port,
    // identity) and puts it on the disk.
    bool Began(const TPortRow& row, const std::string& firmwareSha256, std::string& why);
    // Notes that the attempt's line was written.
    void Closed(const std::string& attemptId);
    // At an orderly end, when every attempt has its line.
    void Remove();

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace tolm::cli
