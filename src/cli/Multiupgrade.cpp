#include "cli/Multiupgrade.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "cli/Board.h"
#include "cli/Cliargs.h"
#include "cli/Consoletext.h"
#include "cli/Filecheck.h"
#include "cli/Firmwarecopy.h"
#include "cli/Jsonout.h"
#include "cli/Portrun.h"
#include "cli/Resultsfile.h"
#include "cli/Runloop.h"
#include "records/Systemservices.h"
#include "tolm/Version.h"

namespace tolm::cli {

namespace {
constexpr int kPumpMs = 200;
// How long a finished run waits for the database to take its lines.
constexpr auto kLastSendTime = std::chrono::seconds(30);

TJson ResultObject(const TPortRow& row) {
    TJson o = TJson::object();
    o["port"] = ValidUtf8(row.Label);
    o["device"] = ValidUtf8(row.DevicePath);
    o["result"] = ValidUtf8(row.Outcome());
    o["passed"] = row.Passed();
    o["seconds"] = row.Seconds;
    o["bytes_sent"] = static_cast<double>(row.Bytes);
    const auto& id = row.Identity;
    if (!id.ModelCode.empty()) o["model_code"] = ValidUtf8(id.ModelCode);
    if (!id.KernelDigits.empty()) o["kernel_digits"] = ValidUtf8(id.KernelDigits);
    if (!id.TerminalID.empty()) o["terminal_id"] = ValidUtf8(id.TerminalID);
    if (!id.TerminalName.empty()) o["terminal_name"] = ValidUtf8(id.TerminalName);
    // A scanner-and-dock file: what the docking station told of itself.
    if (!row.Dock.Empty()) {
        TJson dock = TJson::object();
        if (!row.Dock.ModelCode.empty()) dock["model_code"] = ValidUtf8(row.Dock.ModelCode);
        if (!row.Dock.KernelDigits.empty()) dock["kernel_digits"] = ValidUtf8(row.Dock.KernelDigits);
        if (!row.Dock.TerminalID.empty()) dock["terminal_id"] = ValidUtf8(row.Dock.TerminalID);
        if (!row.Dock.TerminalName.empty()) dock["terminal_name"] = ValidUtf8(row.Dock.TerminalName);
        o["dock"] = dock;
    }
    return o;
}
// Appends a line for every port that sent something and lets the database
// have them; false (the lines on stderr) when the file could not take them.
bool Record(const std::vector<std::unique_ptr<TPortRun>>& runs, TResultsFile& results,
            TResultsForwarding& forwarding) {
    std::vector<std::string> unwritten;
    for (const auto& run : runs) {
        if (!run->Row.Attempted) continue;
        const std::string line = results.Line(run->Row);
        if (unwritten.empty() && results.Append(line))
            forwarding.Appended();
        else
            unwritten.push_back(line);
    }
    forwarding.Finish(kLastSendTime);
    if (unwritten.empty()) return true;
    TellUnwrittenLines(results.Path(), results.Error(), unwritten);
    return false;
}
}  // namespace

int MultiUpgrade(const TMultiUpgradeOptions& options) {
    const std::string& file = options.file;
    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    // Read once: every port gets these bytes, and every line names their hash.
    TFirmwareCopy firmware;
    if (!firmware.Make(file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    // The record is opened, and the database reached, before anything is sent.
    std::unique_ptr<TResultsFile> results;
    std::unique_ptr<TResultsForwarding> forwarding;
    if (!options.results.empty()) {
        const std::string& sha256 = firmware.Sha256();
        const TRecordingBench bench{options.station.empty() ? records::HostName() : options.station,
                                    options.operatorId};
        results = std::make_unique<TResultsFile>(options.results, sha256, kVersion, bench);
        if (!results->IsOpen()) {
            Printf(stderr, "tolm-upgrade-cli: %s\n", results->Error().c_str());
            return kExitUsage;
        }
        forwarding = std::make_unique<TResultsForwarding>(options.results, options.db, bench.Station);
        if (!forwarding->Begin()) return kExitFailed;
    }
    ArgList childArgs{"--wait", std::to_string(options.waitSeconds)};
    if (!options.log.empty()) childArgs.insert(childArgs.end(), {"--log", options.log});
    childArgs.push_back(firmware.CopyPath());
    const auto& ports = options.ports;

    TInterrupts interrupts;
    TBoard board(stderr, isatty(STDERR_FILENO) != 0);
    std::vector<std::unique_ptr<TPortRun>> runs;
    std::vector<TPortRun*> pumped;
    std::vector<const TPortRow*> rows;
    for (const auto& port : ports) {
        runs.push_back(std::make_unique<TPortRun>(port));
        pumped.push_back(runs.back().get());
        rows.push_back(&runs.back()->Row);
    }
    board.SetRows(rows);
    for (auto& run : runs)
        if (!run->Start(childArgs)) board.Message(run->Row, run->Row.Note);
    board.Changed(true);

    auto anyRunning = [&] {
        for (auto& run : runs)
            if (run->Running()) return true;
        return false;
    };
    while (anyRunning()) {
        // Ctrl-C: every run stops after its current exchange and reports.
        if (PumpRuns(pumped, interrupts, board, kPumpMs) > 0)
            for (auto& run : runs) run->Stop();
    }
    board.Finish();

    bool allPassed = true, refused = false;
    for (auto& run : runs) {
        allPassed = allPassed && run->Row.Passed();
        refused = refused || run->Row.ExitCode == kExitUsage;
    }
    if (options.json) {
        TJson results = TJson::array();
        for (auto& run : runs) results.push_back(ResultObject(run->Row));
        Print(stdout, IndentedJson(results));
    } else {
        for (auto& run : runs) Printf(stdout, "%s: %s\n", run->Row.Label.c_str(), run->Row.Outcome().c_str());
    }
    std::fflush(stdout);
    if (results && !Record(runs, *results, *forwarding)) return kExitRecordLost;
    if (interrupts.ExitStatus() != 0) return interrupts.ExitStatus();
    if (refused) return kExitUsage;
    return allPassed ? kExitPass : kExitFailed;
}

}  // namespace tolm::cli
