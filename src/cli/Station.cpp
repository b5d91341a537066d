#include "cli/Station.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "cli/Attemptjournal.h"
#include "cli/Board.h"
#include "cli/Cliargs.h"
#include "cli/Clisystem.h"
#include "cli/Commands.h"
#include "cli/Consoletext.h"
#include "cli/Filecheck.h"
#include "cli/Firmwarecopy.h"
#include "cli/Portarg.h"
#include "cli/Portlist.h"
#include "cli/Portnodewatch.h"
#include "cli/Portowner.h"
#include "cli/Portrun.h"
#include "cli/Removal.h"
#include "cli/Reportedrun.h"
#include "cli/Resultsfile.h"
#include "cli/Resultshistory.h"
#include "cli/Runloop.h"
#include "cli/Sitedatabase.h"
#include "platform/Portmap.h"
#include "records/Systemservices.h"
#include "records/Uuid.h"
#include "tolm/Version.h"

namespace tolm::cli {

namespace {
constexpr int kPumpMs = 200;
// A port's run starts at most once in this time, so that a run that ends at
// once (a crash, a port that cannot be opened) does not spin.
constexpr auto kRestartPause = std::chrono::seconds(1);
// How long a station that ends waits for the database to take its last lines.
constexpr auto kLastSendTime = std::chrono::seconds(10);
// A transfer that reports nothing for this long (no byte moved, no reply) is
// stopped or hung: it is ended and recorded.
constexpr auto kStallLimit = std::chrono::seconds(30);

// Where the way to a port's device starts: its entry in the port directory
// and the node the number reaches now; a device path itself.
TPortNodeWatch::TStartPaths StartPaths(const std::string& port) {
    if (port.find('/') != std::string::npos) return [port] { return std::vector<std::string>{port}; };
    const int n = PortArg(port).Number();
    return [n] { return std::vector<std::string>{PortMap::EntryPath(n), PortMap::DevicePath(n)}; };
}

// The port's entry or device as it stands, to tell what kind of port it is.
std::string PortPath(const std::string& port) {
    if (port.find('/') != std::string::npos) return port;
    return PortMap::DevicePath(PortArg(port).Number());
}

// The device node a port reaches now, through every link; empty when none.
std::string NodeOf(const std::string& port) {
    std::error_code ec;
    const auto node = std::filesystem::canonical(PortPath(port), ec);
    return ec ? std::string() : node.string();
}

// One port of the station: its run, the device last attempted there while
// it may still be attached, and the changes of the port's node.
struct TStationPort {
    std::unique_ptr<TPortRun> Run;
    size_t Watch = 0;
    unsigned long ChangesTold = 0;       // the node's changes the run knows of
    unsigned long ChangesAtArrival = 0;  // when the last attempted device arrived
    bool Arrived = false;                // the current run has a device
    bool HasPrevious = false;            // the last attempted device may still be attached
    std::vector<TDeviceIdentity> Previous;
    std::string ShownCondition;
    std::chrono::steady_clock::time_point StartedAt{};
    std::chrono::steady_clock::time_point LastProgress{};  // the run's last record
    bool Killed = false;                                   // ended at once, not asked to stop
    std::string Refused;                                   // why the station refused the attempt
    bool AlreadyUpgraded = false;                          // refused: its ID passed with this firmware
};

class TStationLoop {
public:
    TStationLoop(const TStationOptions& options, const std::vector<std::string>& ports, TResultsFile& results,
                 TResultsForwarding& forwarding, TFirmwareCopy& firmware, TResultsHistory& history,
                 TAttemptJournal& journal)
        : options_(options),
          results_(results),
          forwarding_(forwarding),
          firmware_(firmware),
          history_(history),
          journal_(journal),
          board_(stderr, isatty(STDERR_FILENO) != 0) {
        std::vector<const TPortRow*> rows;
        for (size_t i = 0; i < ports.size(); ++i) {
            ports_.push_back(std::make_unique<TStationPort>());
            TStationPort& port = *ports_.back();
            port.Run = std::make_unique<TPortRun>(ports[i]);
            port.Watch = watch_.Add(StartPaths(ports[i]));
            port.Run->OnRecord = [this, &port](TPortRun&, const std::string& key) { Record(port, key); };
            port.Run->OnEnd = [this, &port](TPortRun&) { Ended(port); };
            runs_.push_back(port.Run.get());
            rows.push_back(&port.Run->Row);
        }
        board_.SetRows(rows);
    }

    int Run() {
        int interruptsSeen = 0;
        while (true) {
            const bool accepting = interruptsSeen == 0 && !refused_ && recordError_.empty();
            watch_.Take();
            bool anyRunning = false;
            for (auto& port : ports_) {
                Step(*port, accepting, interruptsSeen);
                anyRunning = anyRunning || port->Run->Running();
            }
            if (!anyRunning && !accepting) break;
            ShowForwarding();
            board_.Changed();
            interruptsSeen += PumpRuns(runs_, interrupts_, board_, kPumpMs);
        }
        ShowForwarding();
        board_.Finish();
        // The database gets a little time for the last lines; what it has not
        // taken stays in the file, and the count is told.
        forwarding_.Finish(kLastSendTime);
        if (!unwritten_.empty()) TellUnwrittenLines(options_.results, recordError_, unwritten_);
        // Every attempt has its line now, in the file or on stderr.
        journal_.Remove();
        if (refused_) return kExitUsage;
        if (!recordError_.empty()) return kExitRecordLost;
        return interrupts_.ExitStatus() != 0 ? interrupts_.ExitStatus() : kExitPass;
    }

private:
    // The forwarder's notes, and while the database cannot be reached, how many lines wait.
    void ShowForwarding() {
        if (!forwarding_.Active()) return;
        for (const auto& note : forwarding_.TakeNotes()) board_.Message(note);
        const long waiting = forwarding_.Failing() ? forwarding_.Waiting() : 0;
        board_.SetStatus(waiting == 0 ? std::string()
                                      : std::to_string(waiting) + (waiting == 1 ? " line waits" : " lines wait") +
                                            " to be sent to the database");
    }

    void Step(TStationPort& port, bool accepting, int interruptsSeen) {
        TPortRun& run = *port.Run;
        const unsigned long changes = watch_.Changes(port.Watch);
        if (!run.Running() && accepting && std::chrono::steady_clock::now() - port.StartedAt >= kRestartPause) {
            port.StartedAt = std::chrono::steady_clock::now();
            Start(port, changes);
        }
        if (!run.Running()) return;
        if (changes != port.ChangesTold) {
            port.ChangesTold = changes;
            run.Tell(kNodeChangedLine);
        }
        // After Ctrl-C (or a line not written) only transfers go on; a second
        // signal ends them at once, stopped or hung as they may be.
        if (interruptsSeen > 1) {
            Kill(port, "");
        } else if (!accepting && run.Row.State != "upgrading") {
            run.Stop();
        } else if (run.Row.State == "upgrading" && std::chrono::steady_clock::now() - port.LastProgress > kStallLimit) {
            Kill(port, "Upgrade Error (no progress for 30 s: the upgrade process was ended)");
        }
    }

    void Kill(TStationPort& port, const std::string& note) {
        if (port.Killed) return;
        port.Killed = true;
        if (!note.empty()) {
            port.Run->Row.KilledBecause = note;
            board_.Message(port.Run->Row, note);
        }
        port.Run->Kill();
    }

    void Start(TStationPort& port, unsigned long changes) {
        ArgList args{"--station-run"};
        if (!options_.log.empty()) args.insert(args.end(), {"--log", options_.log});
        // The device attempted last is waited for to go, unless its node
        // changed since it arrived: then it has gone already.
        if (port.HasPrevious && changes == port.ChangesAtArrival) {
            for (const auto& device : port.Previous) args.insert(args.end(), {"--after", AfterArgument(device)});
            // Silence counts only on a built-in UART, whose node stays when
            // its device is unplugged; an adapter, a pseudo-terminal or a
            // Bluetooth link tells its device's going by its node.
            if (IsBuiltinUart(PortPath(port.Run->Row.Port)))
                args.insert(args.end(), {"--removal-silence", std::to_string(options_.removalSilence)});
        } else {
            port.HasPrevious = false;
        }
        if (firmware_.ChangedOnDisk())
            board_.Message(options_.file + " changed on disk after the station read it: every device still gets "
                           "the firmware read at start (SHA-256 " + firmware_.Sha256() + ")");
        args.push_back(firmware_.CopyPath());
        port.ChangesTold = changes;
        port.Arrived = false;
        port.Killed = false;
        port.Refused.clear();
        port.AlreadyUpgraded = false;
        port.LastProgress = std::chrono::steady_clock::now();
        if (!port.Run->Start(args)) board_.Message(port.Run->Row, port.Run->Row.Note);
    }

    void Record(TStationPort& port, const std::string& key) {
        TPortRow& row = port.Run->Row;
        port.LastProgress = std::chrono::steady_clock::now();
        if (key == "state" && (row.State == "waiting" || row.State == "upgrading")) port.HasPrevious = false;
        if ((key == "attempt" || (key == "state" && row.State == "upgrading")) && !port.Arrived) {
            // The device is here. Changes of the node queued until now came
            // before it; any later one means it went.
            watch_.Take();
            port.Arrived = true;
            port.ChangesAtArrival = watch_.Changes(port.Watch);
        }
        if (key == "port" && row.Condition != port.ShownCondition) {
            port.ShownCondition = row.Condition;
            if (!row.Condition.empty())
                board_.Message(row, "E001: Warn ComPort to be unable to open: " + row.Condition +
                                        " (tried again quietly until it opens)");
        }
        if (key == "attempt") Judge(port);
        if (key == "end" && row.Note == kFileRefusedNote) refused_ = true;
    }

    // The run is about to send its first byte: it may, once its attempt is
    // on the disk, unless the device has its PASS of this firmware already
    // or another port reaches it.
    void Judge(TStationPort& port) {
        TPortRow& row = port.Run->Row;
        std::string refusal;
        const std::string node = NodeOf(row.Port);
        if (const std::string first = FirstPortOf(port, node); !first.empty()) {
            refusal = "Upgrade skipped (the same device as " + first + ", which serves it)";
            board_.Message(row, row.Label + " reaches the same device as " + first + " (" + node +
                                    "): it is upgraded as " + first + " only");
        } else if (!options_.again && history_.Passed(row.Identity.TerminalID)) {
            refusal = kAlreadyUpgradedResult;
            port.AlreadyUpgraded = true;
            board_.Message(row, "terminal ID " + row.Identity.TerminalID +
                                    " was upgraded with this firmware already (--again upgrades it again)");
        } else {
            row.AttemptId = records::NewAttemptId();
            row.StartedAt = std::chrono::system_clock::now();
            std::string why;
            if (!journal_.Began(row, firmware_.Sha256(), why)) {
                refusal = "Upgrade stopped (the station could not note the attempt)";
                RecordFailed(row, why, "the attempt could not be noted");
            } else if (!node.empty()) {
                firstPort_.emplace(node, row.Label);
            }
        }
        if (!refusal.empty()) {
            row.Attempted = false;
            port.Refused = refusal;
        }
        port.Run->Tell(std::string(kVerdictLine) + (refusal.empty() ? kGoVerdict : kRefusedVerdict + refusal));
    }

    // The port that serves the device at node, when it is another than this
    // one and still reaches it: the first that attempted a device there in
    // this run, else the first in the list that reaches it.
    std::string FirstPortOf(const TStationPort& port, const std::string& node) const {
        if (node.empty()) return {};
        auto reaches = [&node](const TStationPort& other) { return NodeOf(other.Run->Row.Port) == node; };
        if (auto it = firstPort_.find(node); it != firstPort_.end()) {
            if (it->second == port.Run->Row.Label) return {};
            for (const auto& other : ports_)
                if (other->Run->Row.Label == it->second && reaches(*other)) return it->second;
        }
        for (const auto& other : ports_) {
            if (other.get() == &port) return {};
            if (reaches(*other)) return other->Run->Row.Label;
        }
        return {};
    }

    void RecordFailed(const TPortRow& row, const std::string& why,
                      const std::string& what = "the results file could not be written") {
        if (!recordError_.empty()) return;
        recordError_ = why;
        board_.Message(row, what + " (" + why + "): no new device is taken; running upgrades finish");
    }

    // Every attempt that sent anything gets its line, however its run ended,
    // and so does a device found upgraded already. A device refused waits
    // to go as an upgraded one does.
    void Ended(TStationPort& port) {
        TPortRow& row = port.Run->Row;
        if (row.Note == kFileRefusedNote) return;
        if (!row.Attempted && port.Refused.empty()) return;
        if (row.Attempted || port.AlreadyUpgraded) {
            const std::string line = results_.Line(row);
            if (recordError_.empty() && !results_.Append(line)) RecordFailed(row, results_.Error());
            if (!recordError_.empty()) {
                unwritten_.push_back(line);
            } else {
                forwarding_.Appended();
                if (!row.AttemptId.empty()) journal_.Closed(row.AttemptId);
                if (row.Passed()) history_.AddPass(row.Identity.TerminalID);
            }
        }
        row.LastOutcome = row.Outcome();
        port.Previous = {row.Identity};
        if (!row.Dock.Empty()) port.Previous.push_back(row.Dock);
        port.HasPrevious = true;
    }

    const TStationOptions& options_;
    TResultsFile& results_;
    TResultsForwarding& forwarding_;
    TFirmwareCopy& firmware_;
    TResultsHistory& history_;
    TAttemptJournal& journal_;
    std::map<std::string, std::string> firstPort_;  // device node: the port that attempted a device there first
    // The first Ctrl-C stops the waiting ports, the second ends the transfers
    // at once, each with its line. On Windows a third ends the program
    // itself, should the loop ever fail to.
    TInterrupts interrupts_{3};
    TBoard board_;
    TPortNodeWatch watch_;
    std::vector<std::unique_ptr<TStationPort>> ports_;
    std::vector<TPortRun*> runs_;
    bool refused_ = false;
    std::string recordError_;
    std::vector<std::string> unwritten_;
};

// Reads the results file's history, gives each attempt that an earlier
// station noted and left without a line its line, and starts this station's
// journal. kExitPass, or the status to end with.
int CloseEarlierAttempts(TResultsFile& results, TResultsHistory& history, TAttemptJournal& journal,
                         const std::string& sha256) {
    std::string why;
    std::vector<TPortRow> open;
    if (!history.Read(results.Path(), sha256, why) || !journal.LeftOpen(open, why)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", why.c_str());
        return kExitRecordLost;
    }
    std::vector<std::string> unwritten;
    long closed = 0;
    for (const auto& row : open) {
        if (history.HasAttempt(row.AttemptId)) continue;
        const std::string line = results.Line(row);
        if (unwritten.empty() && results.Append(line))
            ++closed;
        else
            unwritten.push_back(line);
    }
    if (!unwritten.empty()) {
        TellUnwrittenLines(results.Path(), results.Error(), unwritten);
        return kExitRecordLost;
    }
    if (closed > 0)
        Printf(stderr, "tolm-upgrade-cli: %ld %s that an earlier station left open got %s line \"%s\"\n", closed,
               closed == 1 ? "attempt" : "attempts", closed == 1 ? "its" : "their", kStationEndedResult);
    if (!journal.Start(why)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", why.c_str());
        return kExitRecordLost;
    }
    return kExitPass;
}
}  // namespace

int Station(const TStationOptions& options) {
    const auto ports = ExpandPortList(options.ports);
    if (ports.empty()) throw UsageError("station needs at least one --port");
    const std::string& file = options.file;
    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    // The ports are this station's for its whole run: another station or an
    // upgrade on one of them is refused at its start.
    std::vector<std::unique_ptr<TPortOwner>> owners;
    bool owned = false;
    for (const auto& port : ports) {
        owners.push_back(TPortOwner::Take(port, whyNot));
        if (!owners.back()) {
            Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
            owned = true;
        }
    }
    if (owned) return kExitUsage;
    // Read once: every device gets these bytes, and every line names their hash.
    TFirmwareCopy firmware;
    if (!firmware.Make(file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    const std::string& sha256 = firmware.Sha256();
    const TRecordingBench bench{options.station.empty() ? records::HostName() : options.station,
                                options.operatorId};
    TResultsFile results(options.results, sha256, kVersion, bench);
    if (!results.IsOpen()) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", results.Error().c_str());
        return kExitUsage;
    }
    // What the file says already: the devices that passed with this
    // firmware, and the attempts an earlier station left without a line,
    // which get theirs now.
    TResultsHistory history;
    TAttemptJournal journal(options.results);
    if (const int status = CloseEarlierAttempts(results, history, journal, sha256); status != kExitPass)
        return status;
    TResultsForwarding forwarding(options.results, options.db, bench.Station);
    if (!forwarding.Begin()) return kExitFailed;
    // A results file beyond a size limit fails its write instead of ending the station.
    KeepOnAtFileSizeLimit();
    TStationLoop loop(options, ports, results, forwarding, firmware, history, journal);
    return loop.Run();
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
                    "CSV file that gets one line per attempt (default station-results.csv)")
        ->type_name("FILE.csv");
    cmd->add_option("--removal-silence", options->removalSilence,
                    "on a built-in UART (no USB or Bluetooth adapter, no pseudo-terminal), how long a device must\n"
                    "be silent to count as gone (default 10; 0: never by silence)")
        ->type_name("SECONDS")
        ->check(WholeNumber(0, 3600));
    cmd->add_option("--log", options->log, "write the diagnostic hex-dump log to FILE")->type_name("FILE");
    cmd->add_flag("--again", options->again,
                  "upgrade a device again even when its terminal ID has a PASS line of this firmware");
    cmd->add_option("--station", options->station, "the station's name in each line (default the host name)")
        ->type_name("NAME");
    cmd->add_option("--operator", options->operatorId, "who works at the bench, named in each line")->type_name("ID");
    AddDatabaseOptions(cmd, options->db, true);
    cmd->footer(
        "On each port, again and again: waits for a device (its port appears and it answers, or a Quorin\n"
        "terminal announces itself), upgrades it, appends a line to the results file, and waits until it\n"
        "has gone: its port's node went or changed, a device with another identity answers, or (only on a\n"
        "built-in UART) it stayed silent for --removal-silence seconds. A device left attached is not\n"
        "upgraded twice. A device with a terminal ID that has a PASS line of this firmware in the results\n"
        "file is not upgraded again (its line says \"Upgrade skipped (already upgraded)\") unless --again is\n"
        "given; a first-generation scanner has no ID and is upgraded whenever it arrives anew. A device\n"
        "that two ports reach is upgraded on the first only. The ports are the station's for its whole run:\n"
        "another station or an upgrade on one of them is refused. Each attempt is noted in FILE.csv.journal\n"
        "before its first byte; a station started after one that was killed gives every attempt left\n"
        "without a line the line \"Upgrade stopped (the station ended)\".\n"
        "Ctrl-C stops the waiting ports at once and lets running upgrades finish; a second Ctrl-C (or\n"
        "signal) ends the station at once, killing the runs still going, each with its line. A transfer\n"
        "without progress for 30 s is killed and recorded. Exit status: 130 after Ctrl-C, 143 after SIGTERM;\n"
        "2 usage error, a refused file or a port another station serves; 4 when a line could not be written\n"
        "to the results file (those lines then go to stderr); 1 with --db-required when the database could\n"
        "not be reached at start.\n"
        "With --db, each line also goes to the site database, in order, from a thread of its own; while the\n"
        "database cannot be reached the lines wait in the results file (the board says how many) and go\n"
        "when it is back. At the end the station says how many lines were not sent; \"records push\" sends them.");
    cmd->callback([options, &run] { run = [options] { return Station(*options); }; });
}

}  // namespace tolm::cli
