// tolm-upgrade-cli upgrade: the window's file check and "Upgrade" press, on
// the terminal.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "app/Unit1.h"
#include "base/Logfile.h"
#include "cli/Cliargs.h"
#include "cli/Climessages.h"
#include "cli/Commands.h"
#include "cli/Consoletext.h"
#include "cli/Filecheck.h"
#include "cli/Portarg.h"
#include "cli/Multiupgrade.h"
#include "cli/Sitedatabase.h"
#include "cli/Portlist.h"
#include "cli/Portowner.h"
#include "cli/Progressview.h"
#include "cli/Removal.h"
#include "cli/Reportedrun.h"
#include "cli/Stopsignals.h"
#include "toolkit/MainThread.h"

namespace tolm::cli {

namespace {
struct UpgradeOptions {
    std::string file;
    std::vector<std::string> ports;  // as given: each may be a list
    std::string log;
    long waitSeconds = 60;
    bool json = false;
    // How a multi-port or station run starts its children (Reportedrun.h).
    int progressFd = -1;
    bool station = false;
    std::vector<std::string> after;  // the device upgraded before on the port (AfterArgument)
    long removalSilence = 0;
    // The record of a one-off run: a results file, and the site database it is sent to.
    std::string results;
    std::string stationName;
    std::string operatorId;
    TDatabaseOptions db;
};

bool IsPass(const std::string& result) { return result == "Upgrade PASS" || result == "Font Upgrade PASS"; }

std::vector<TDeviceIdentity> AfterDevices(const std::vector<std::string>& texts) {
    std::vector<TDeviceIdentity> devices;
    for (const auto& text : texts) devices.push_back(IdentityFromArgument(text));
    return devices;
}

// Runs the main thread's messages until done() holds or the time is up;
// false on time-out. done() is looked at after each wake-up, and at least
// every 50 ms for what no message announces (a stop signal).
bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    while (!done()) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeoutMs))
            return false;
        WaitMessages(50);
    }
    return true;
}

// Selects port n in ComList; ports above the list's ten get an item of their own.
void SelectPort(TForm1& form, int port) {
    const std::string item = "Com" + std::to_string(port);
    auto items = form.ComList.Items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == item) {
            form.ComList.SetItemIndex(static_cast<int>(i));
            return;
        }
    }
    items.push_back(item);
    form.ComList.SetItems(items);
    form.ComList.SetItemIndex(static_cast<int>(items.size()) - 1);
}
int Upgrade(const UpgradeOptions& options) {
    const std::string& file = options.file;
    const long waitSeconds = options.waitSeconds;
    const auto ports = ExpandPortList(options.ports);
    if (!options.db.connection.empty() && options.results.empty())
        throw UsageError("--db sends the lines of a results file: give --results too");
    // A port a station serves is the station's (its own runs aside).
    if (!options.station) {
        bool owned = false;
        for (const auto& port : ports.empty() ? std::vector<std::string>{"1"} : ports) {
            if (const std::string why = TPortOwner::OwnedBy(port); !why.empty()) {
                Printf(stderr, "tolm-upgrade-cli: %s\n", why.c_str());
                owned = true;
            }
        }
        if (owned) return kExitUsage;
    }
    if (ports.size() > 1 || options.json || !options.results.empty())
        return MultiUpgrade({ports.empty() ? std::vector<std::string>{"1"} : ports, file, options.log, waitSeconds,
                             options.json, options.results, options.stationName, options.operatorId, options.db});
    PortArg port(ports.empty() ? "1" : ports[0]);
    if (!options.log.empty()) SetLogPath(options.log);
    const bool station = options.station;
    if (station && options.progressFd < 0) throw UsageError("--station-run runs under tolm-upgrade-cli station");

    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }

    auto sink = std::make_shared<StderrLinesSink>();
    auto previous = InstallMessageSink(sink);
    struct Restore {
        std::shared_ptr<IMessageSink> sink;
        ~Restore() { InstallMessageSink(sink); }
    } restore{previous};

    TForm1 form;
    form.OpenDialog1.SetChooser([file](const TOpenDialog&, std::string& chosen) {
        chosen = file;
        return true;
    });
    std::unique_ptr<TReportedRun> report;
    if (options.progressFd >= 0) report = std::make_unique<TReportedRun>(options.progressFd, form);
    // A reported run's progress goes to its parent, not to the terminal.
    std::optional<ProgressView> progress;
    if (!report) progress.emplace(form.PBar, form.PBar_num, stderr, isatty(STDERR_FILENO) != 0);

    // The file check, as at the window's first activation.
    bool checkRaised = false;
    form.RunEvent([&] {
        try {
            form.FormActivate();
        } catch (...) {
            checkRaised = true;
            throw;
        }
    });
    if (checkRaised || form.FirmwareFile.empty()) {
        if (!form.Error.Caption().empty()) Printf(stderr, "%s\n", form.Error.Caption().c_str());
        Printf(stderr, "tolm-upgrade-cli: %s was refused by the file check\n", file.c_str());
        if (report) report->Finish(form.Error.Caption(), kFileRefusedNote);
        return kExitUsage;
    }
    if (form.FirmwareFamily == 0) {
        Printf(stderr, "tolm-upgrade-cli: %s names no known device family in its trailer\n", file.c_str());
        Printf(stdout, "G001.1 Upgrade file invalid\n");
        if (report) report->Finish("G001.1 Upgrade file invalid", kFileRefusedNote);
        return kExitUsage;
    }
    // The file may have been refused silently by a family check that found no
    // valid trailer; the emptied file is what tells.
    SelectPort(form, port.Number());
    if (report) report->Family();
    if (station) {
        report->AfterDevice(AfterDevices(options.after), std::chrono::seconds(options.removalSilence));
        report->AskBeforeFirstSend();
    }
    const bool announced = form.FirmwareFamily == 3;
    if (station && !announced && !report->AwaitDevice(port.Number())) return kExitStopped;
    if (report && !announced) report->State("upgrading");

    // From here on a signal stops the upgrade after its current exchange. A
    // reported run is stopped by its parent instead (Reportedrun.h): it
    // ignores the terminal's Ctrl-C, which is the parent's to judge.
    std::optional<TStopSignals> stop;
    if (!report) stop.emplace([&form] { form.TolmSerialComm1.RequestStop(); });
    auto stopped = [&] { return stop ? stop->Stopped() : StopAsked(); };
    if (station && announced) {
        // The press opens the port for the terminal's announcement; a line
        // that hangs up before one came is opened again once it is back.
        while (true) {
            if (!report->AwaitDevice(port.Number())) return kExitStopped;
            form.RunEvent([&] { form.UpgradeClick(); });
            if (form.TolmSerialComm1.GetSerialComIsOpen(port.Number()) != 1) {  // taken meanwhile
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                continue;
            }
            const auto end = report->AwaitAnnouncedTransfer();
            if (end == TReportedRun::TAnnounced::TransferEnded) break;
            form.TolmSerialComm1.CloseComPort(port.Number());
            if (end == TReportedRun::TAnnounced::Stopped && !report->Refusal().empty()) {
                report->Finish(report->Refusal(), "");
                return kExitFailed;
            }
            if (end == TReportedRun::TAnnounced::Stopped) return kExitStopped;
            if (end == TReportedRun::TAnnounced::LineLost) {
                // The terminal was answered, then its line went before a transfer ended.
                report->Finish("", "the line was lost after the terminal announced itself; no transfer ended");
                return kExitFailed;
            }
        }
    } else {
        form.RunEvent([&] { form.UpgradeClick(); });
    }
    if (sink->Saw("E001: Warn ComPort to be unable to open") && form.Error.Caption().empty()) {
        if (progress) progress->Finish();
        // A station's port taken between its probe and the press is waited
        // for again; nothing was sent, so there is nothing to record.
        if (report && !station) report->Finish("E001: Warn ComPort to be unable to open", "");
        return kExitPort;
    }

    bool timedOut = false;
    std::string note;
    if (announced && !station) {
        // The terminal's announcement starts the transfer inside the receive
        // handler; it is over once the result line holds its outcome.
        Printf(stderr, "waiting up to %ld s for the terminal's announcement on port %d\n", waitSeconds,
               port.Number());
        timedOut = !PumpUntil([&] { return !form.Error.Caption().empty() || stopped(); },
                              static_cast<int>(waitSeconds * 1000));
        // A terminal that acknowledges the connect request ends the sequence
        // without a transfer or a message, so the wait runs out then too.
        if (timedOut) {
            note = "no result within " + std::to_string(waitSeconds) +
                   " s: no announcement came, or the terminal acknowledged the connect request and no transfer "
                   "followed";
            Printf(stderr, "tolm-upgrade-cli: %s\n", note.c_str());
        }
    } else if (form.Docking_Times.Enabled()) {
        // A two-image file: the docking station's image follows on the timer.
        PumpUntil([&] { return !form.Docking_Times.Enabled() || stopped(); }, -1);
    }
    if (progress) progress->Finish();
    std::string result = form.Error.Caption();
    // A signal that came after the whole upgrade had passed changes nothing.
    const bool complete = IsPass(result) && !form.Docking_Times.Enabled();
    if (stopped() && !complete) {
        // Nothing more is sent; the port is closed before the outcome is told.
        form.Docking_Times.SetEnabled(false);
        form.TolmSerialComm1.CloseComPort(port.Number());
        // A failure that the stop itself caused (a send it refused) is the stop;
        // an attempt the station refused before its first byte, the refusal.
        const bool refused = report && !report->Refusal().empty();
        if (refused)
            result = report->Refusal();
        else if (result.empty() || IsPass(result) || (report && report->StoppedMidway()))
            result = "Upgrade stopped";
        Printf(stdout, "%s\n", result.c_str());
        std::fflush(stdout);
        if (report) report->Finish(result, "");
        if (refused) return kExitFailed;
        return stop ? stop->ExitStatus() : kExitStopped;
    }
    Printf(stdout, "%s\n", result.c_str());
    std::fflush(stdout);
    const int exitCode = IsPass(result) && !timedOut ? kExitPass : kExitFailed;
    // A Quorin run that ended early leaves its port open.
    if (station) form.TolmSerialComm1.CloseComPort(port.Number());
    if (report) report->Finish(result, note);
    return exitCode;
}
}  // namespace

void AddUpgradeCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<UpgradeOptions>();
    CLI::App* cmd = app.add_subcommand("upgrade", "upgrade a device with FILE");
    cmd->add_option("FILE", options->file, "firmware (.bin) or font (.fon) file")->required();
    cmd->add_option("--port", options->ports,
                    std::string(kPortForms) + "; default 1. Repeat it, or\n"
                    "give a list (3,4,7-10), to upgrade every port at once")
        ->type_name("P")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cmd->add_flag("--json", options->json, "print one JSON document of the results instead of result lines");
    // Not for operators: how multi-port and station runs start their children.
    cmd->add_option("--progress-fd", options->progressFd)->check(WholeNumber(3, 1 << 20))->group("");
    cmd->add_flag("--station-run", options->station)->group("");
    cmd->add_option("--after", options->after)->group("")->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cmd->add_option("--removal-silence", options->removalSilence)->check(WholeNumber(0, 3600))->group("");
    cmd->add_option("--log", options->log, "write the diagnostic hex-dump log to FILE")->type_name("FILE");
    cmd->add_option("--results", options->results, "append one line per port's attempt to this CSV file")
        ->type_name("FILE.csv");
    cmd->add_option("--station", options->stationName,
                    "the station's name in the results file's lines (default the host name)")
        ->type_name("NAME");
    cmd->add_option("--operator", options->operatorId, "who works at the bench, named in the results file's lines")
        ->type_name("ID");
    AddDatabaseOptions(cmd, options->db, true);
    cmd->add_option("--wait", options->waitSeconds,
                    "how long a Quorin file waits for the terminal's announcement (default 60)")
        ->type_name("SECONDS")
        ->check(WholeNumber(0, 24 * 3600));
    cmd->footer(
        "Checks FILE as the window does and runs the \"Upgrade\" press on port P.\n"
        "The last line on stdout is the result line. Exit status: 0 \"Upgrade PASS\" or \"Font Upgrade PASS\";\n"
        "1 any other outcome; 2 usage error or a file that is missing, unreadable or refused; 3 port not opened;\n" +
        std::string(kStopStatusText) + " stopped the upgrade after its current exchange.\n"
        "With several ports (or --json), every port runs at once: one result line per port (\"COM3: Upgrade\n"
        "PASS\"), exit status 0 only when all passed.\n"
        "--results appends each port's attempt to FILE.csv as a station does (exit status 4 when a line\n"
        "could not be written); --db then sends the new lines to the site database (what it could not take\n"
        "waits in the file for \"records push\"; with --db-required nothing is upgraded while the database\n"
        "cannot be reached).");
    cmd->callback([options, &run] { run = [options] { return Upgrade(*options); }; });
}

}  // namespace tolm::cli
