// One simulated station for bench/site.sh: it appends attempts (made without
// devices) to its own results file, one every --interval milliseconds, each
// line whole and synced as a station writes it, and forwards them to the
// database on the forwarder's own thread, as a station does. It measures each
// line's delay from its append to its arrival in the database and prints one
// line of figures: "lines N seconds S slowest_ms D median_ms M".
//
//   tolm-bench-site --results FILE --db CONNECTION [--password-env NAME] [--attempts N] [--interval MS]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "records/Attempt.h"
#include "records/Forwarder.h"
#include "records/Uuid.h"

using namespace tolm::records;
using Clock = std::chrono::steady_clock;

namespace {
bool AppendSynced(int fd, const std::string& line) {
    return write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && fsync(fd) == 0;
}
}  // namespace

int main(int argc, char** argv) {
    std::string results, connection, passwordVariable;
    long attempts = 2000, intervalMs = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--results") results = value;
        else if (option == "--db") connection = value;
        else if (option == "--password-env") passwordVariable = value;
        else if (option == "--attempts") attempts = std::atol(value.c_str());
        else if (option == "--interval") intervalMs = std::atol(value.c_str());
    }
    if (results.empty() || connection.empty()) {
        std::fprintf(stderr, "usage: tolm-bench-site --results FILE --db CONNECTION [--password-env NAME] "
                             "[--attempts N] [--interval MS]\n");
        return 2;
    }
    TForwarderSettings settings;
    settings.ResultsPath = results;
    settings.Database.Connection = connection;
    if (!passwordVariable.empty())
        if (const char* password = std::getenv(passwordVariable.c_str())) settings.Database.Password = password;
    settings.Station = results;

    const int fd = open(results.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 || !AppendSynced(fd, std::string(kResultsHeader) + "\n")) {
        std::perror(results.c_str());
        return 1;
    }
    TRecordForwarder forwarder(settings);
    std::string why;
    if (!forwarder.Connect(why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    forwarder.Start();

    std::vector<Clock::time_point> appended;
    std::vector<double> delaysMs;
    const auto start = Clock::now();
    auto arrived = [&] {
        const auto counts = forwarder.Counts();
        const size_t done = static_cast<size_t>(counts.Sent + counts.AlreadyThere);
        for (size_t k = delaysMs.size(); k < std::min(done, appended.size()); ++k)
            delaysMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - appended[k]).count());
    };
    for (long i = 0; i < attempts; ++i) {
        const auto due = start + std::chrono::milliseconds(intervalMs * i);
        while (Clock::now() < due) {
            arrived();
            std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(2)));
        }
        const std::string now = UtcText(std::chrono::system_clock::now());
        const std::string line = "2026-12-08T21:30:00+0100,COM" + std::to_string(1 + i % 8) +
                                 ",2LB,LB1Y,7_1_0,,,Upgrade PASS,12.3,abc,3.4.9," + NewAttemptId() + "," + results +
                                 ",,," + now + ",D" + std::to_string(i) + "\n";
        if (!AppendSynced(fd, line)) {
            std::perror(results.c_str());
            return 1;
        }
        appended.push_back(Clock::now());
        forwarder.Notify();
        arrived();
    }
    while (delaysMs.size() < appended.size()) {
        arrived();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (Clock::now() - start > std::chrono::minutes(30)) break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    forwarder.Stop();
    close(fd);
    for (const auto& note : forwarder.TakeNotes()) std::fprintf(stderr, "%s\n", note.c_str());
    std::vector<double> sorted = delaysMs;
    std::sort(sorted.begin(), sorted.end());
    std::printf("lines %zu seconds %.2f slowest_ms %.1f median_ms %.1f\n", delaysMs.size(), seconds,
                sorted.empty() ? 0.0 : sorted.back(), sorted.empty() ? 0.0 : sorted[sorted.size() / 2]);
    return delaysMs.size() == appended.size() ? 0 : 1;
}
