#include "cli/Station.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "cli/Board.h"
#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Filecheck.h"
#include "cli/Portlist.h"
#include "cli/Portrun.h"
#include "cli/Reportedrun.h"
#include "cli/Resultsfile.h"
#include "cli/Runloop.h"

namespace tolm::cli {

namespace {
constexpr int kPumpMs = 200;
// A port's run starts at most once in this time, so that a run that ends at
// once (a crash, a port that cannot be opened) does not spin.
constexpr auto kRestartPause = std::chrono::seconds(1);
}  // namespace

int Station(const TStationOptions& options) {
    const auto ports = ExpandPortList(options.ports);
    if (ports.empty()) throw UsageError("station needs at least one --port");
    const std::string& file = options.file;
    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    TResultsFile results(options.results);
    if (!results.IsOpen()) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s\n", results.Error().c_str());
        return kExitUsage;
    }
    ArgList childArgs{"--station"};
    if (!options.log.empty()) childArgs.insert(childArgs.end(), {"--log", options.log});
    childArgs.push_back(file);

    TInterrupts interrupts;
    TBoard board(stderr, isatty(STDERR_FILENO) != 0);
    std::vector<std::unique_ptr<TPortRun>> runs;
    std::vector<std::chrono::steady_clock::time_point> startedAt(ports.size());
    std::vector<const TPortRow*> rows;
    bool refused = false;
    for (const auto& port : ports) {
        runs.push_back(std::make_unique<TPortRun>(port));
        rows.push_back(&runs.back()->Row);
        runs.back()->OnRecord = [&](TPortRun& run, const std::string& key) {
            if (key != "end") return;
            if (run.Row.Note == kFileRefusedNote) refused = true;
            else if (!results.Append(run.Row, run.Row.Family))
                board.Message(run.Row, "the results file could not be written");
        };
    }
    board.SetRows(rows);

    int interruptsSeen = 0;
    while (true) {
        const auto now = std::chrono::steady_clock::now();
        bool anyRunning = false;
        for (size_t i = 0; i < runs.size(); ++i) {
            auto& run = *runs[i];
            if (!run.Running() && interruptsSeen == 0 && !refused && now - startedAt[i] >= kRestartPause) {
                startedAt[i] = now;
                if (!run.Start(childArgs)) board.Message(run.Row, run.Row.Note);
            }
            // After Ctrl-C only transfers go on; a second one stops them too.
            if (run.Running() && (interruptsSeen > 1 || (interruptsSeen == 1 && run.Row.State != "upgrading")))
                run.Stop();
            anyRunning = anyRunning || run.Running();
        }
        if (!anyRunning && (interruptsSeen > 0 || refused)) break;
        board.Changed();
        interruptsSeen += PumpRuns(runs, interrupts, board, kPumpMs);
        if (refused)
            for (auto& run : runs) run->Stop();
    }
    board.Finish();
    if (refused) return kExitUsage;
    return interrupts.ExitStatus() != 0 ? interrupts.ExitStatus() : kExitPass;
}

void AddStationCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<TStationOptions>();
    CLI::App* cmd = app.add_subcommand("station", "upgrade every device that arrives on the ports, until interrupted");
    cmd->add_option("FILE", options->file, "firmware (.bin) or font (.fon) file")->required();
    cmd->add_option("--port", options->ports, "a port, or a list such as 3,4,7-10; may repeat")
        ->type_name("P")
        ->required()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cmd->add_option("--results", options->results,
                    "CSV file that gets one line per upgrade (default station-results.csv)")
        ->type_name("FILE.csv");
    cmd->add_option("--log", options->log, "write the diagnostic hex-dump log to FILE")->type_name("FILE");
    cmd->footer(
        "On each port, again and again: waits for a device (its port appears and it answers, or a Quorin\n"
        "terminal announces itself), upgrades it, appends a line to the results file, and waits until it\n"
        "has gone; a device left attached is not upgraded twice.\n"
        "Ctrl-C stops the waiting ports at once and lets running upgrades finish; a second Ctrl-C stops\n"
        "those after their current exchange. Exit status: 130 after Ctrl-C; 2 usage error or a refused file.");
    cmd->callback([options, &run] { run = [options] { return Station(*options); }; });
}

}  // namespace tolm::cli
