// tolm-upgrade-cli upgrade: the window's file check and "Upgrade" press, on
// the terminal.
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/Logfile.h"
#include "app/Unit1.h"
#include "cli/Cliargs.h"
#include "cli/Climessages.h"
#include "cli/Commands.h"
#include "cli/Filecheck.h"
#include "cli/Portarg.h"
#include "cli/Multiupgrade.h"
#include "cli/Portlist.h"
#include "cli/Progressview.h"
#include "cli/Reportedrun.h"

namespace tolm::cli {

namespace {
const char* kUpgradeHelp =
    "usage: tolm-upgrade-cli upgrade [--port P]... [--json] [--log FILE] [--wait SECONDS] FILE\n"
    "\n"
    "Checks FILE as the window does and runs the \"Upgrade\" press on port P.\n"
    "  --port P        port number (3), COM name (COM3) or device path (/dev/ttyUSB0); default 1.\n"
    "                  Repeat it, or give a list (3,4,7-10), to upgrade every port at once: one result\n"
    "                  line per port (\"COM3: Upgrade PASS\"), exit status 0 only when all passed\n"
    "  --json          with several ports: one JSON document of the results instead of the lines\n"
    "  --log FILE      write the diagnostic hex-dump log to FILE\n"
    "  --wait SECONDS  how long a Quorin file waits for the terminal's announcement (default 60)\n"
    "\n"
    "The last line on stdout is the result line. Exit status: 0 \"Upgrade PASS\" or \"Font Upgrade PASS\";\n"
    "1 any other outcome; 2 usage error or a file that is missing, unreadable or refused; 3 port not opened.\n";

bool IsPass(const std::string& result) { return result == "Upgrade PASS" || result == "Font Upgrade PASS"; }

// Runs the event loop until done() holds or the time is up; false on time-out.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timeoutMs >= 0 && timer.elapsed() >= timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
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
}  // namespace

int UpgradeCommand(const ArgList& given) {
    ArgList argv = given;
    const auto portTexts = TakePortOptions(argv);
    const auto ports = ExpandPortList(portTexts);
    const bool json = std::find(argv.begin(), argv.end(), "--json") != argv.end();
    if (ports.size() > 1 || json) return MultiUpgradeCommand(ports.empty() ? ArgList{"1"} : ports, argv);
    if (!ports.empty()) argv.insert(argv.begin(), {"--port", ports[0]});
    // --progress-fd and --station are how a multi-port or station run starts
    // its children (Reportedrun.h); they are not for operators.
    Args args(argv, {"--port", "--log", "--wait", "--progress-fd"}, {"--help", "--station"});
    if (args.Flag("--help")) {
        std::fputs(kUpgradeHelp, stdout);
        return kExitPass;
    }
    args.ExpectPositional(1, "firmware or font FILE (see --help)");
    const std::string file = args.Positional()[0];
    const long waitSeconds = args.Number("--wait", 60, 0, 24 * 3600);
    PortArg port(args.Value("--port", "1"));
    if (args.Has("--log")) SetLogPath(args.Value("--log"));
    const int reportFd = static_cast<int>(args.Number("--progress-fd", -1, 3, 1 << 20));
    const bool station = args.Flag("--station");
    if (station && reportFd < 0) throw UsageError("--station runs under tolm-upgrade-cli station");

    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
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
    if (reportFd >= 0) report = std::make_unique<TReportedRun>(reportFd, form);
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
        if (!form.Error.Caption().empty()) std::fprintf(stderr, "%s\n", form.Error.Caption().c_str());
        std::fprintf(stderr, "tolm-upgrade-cli: %s was refused by the file check\n", file.c_str());
        if (report) report->Finish(form.Error.Caption(), "file refused");
        return kExitUsage;
    }
    if (form.FirmwareFamily == 0) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s names no known device family in its trailer\n", file.c_str());
        std::printf("G001.1 Upgrade file invalid\n");
        if (report) report->Finish("G001.1 Upgrade file invalid", "file refused");
        return kExitUsage;
    }
    // The file may have been refused silently by a family check that found no
    // valid trailer; the emptied file is what tells.
    SelectPort(form, port.Number());
    if (report) report->Family();
    if (station && !report->WaitForArrival(port.Number())) return kExitStopped;
    if (report && form.FirmwareFamily != 3) report->State("upgrading");

    form.RunEvent([&] { form.UpgradeClick(); });
    if (sink->Saw("E001: Warn ComPort to be unable to open")) {
        if (progress) progress->Finish();
        if (report) report->Finish("E001: Warn ComPort to be unable to open", "");
        return kExitPort;
    }

    bool timedOut = false;
    std::string note;
    if (form.FirmwareFamily == 3) {
        // The terminal's announcement starts the transfer inside the receive
        // handler; it is over once the result line holds its outcome.
        if (station) {
            // A station waits for the next terminal for as long as it runs.
            PumpUntil([&] { return !form.Error.Caption().empty() || StopAsked(); }, -1);
            if (form.Error.Caption().empty()) return kExitStopped;
        } else {
            std::fprintf(stderr, "waiting up to %ld s for the terminal's announcement on port %d\n", waitSeconds,
                         port.Number());
            timedOut = !PumpUntil([&] { return !form.Error.Caption().empty() || (report && StopAsked()); },
                                  static_cast<int>(waitSeconds * 1000));
            timedOut = timedOut || form.Error.Caption().empty();
        }
        if (timedOut) {
            note = "no announcement within " + std::to_string(waitSeconds) + " s";
            std::fprintf(stderr, "tolm-upgrade-cli: %s\n", note.c_str());
        }
    } else if (form.Docking_Times.Enabled()) {
        // A two-image file: the docking station's image follows on the timer.
        PumpUntil([&] { return !form.Docking_Times.Enabled(); }, -1);
    }
    if (progress) progress->Finish();
    const std::string result = form.Error.Caption();
    std::printf("%s\n", result.c_str());
    std::fflush(stdout);
    const int exitCode = IsPass(result) && !timedOut ? kExitPass : kExitFailed;
    if (report) {
        report->Finish(result, note);
        // A device that stays on the port is not upgraded again. A Quorin run
        // that ended early leaves its port open; the removal probe needs it.
        if (station) form.TolmSerialComm1.CloseComPort(port.Number());
        if (station && !report->WaitForRemoval(port.Number())) return kExitStopped;
    }
    return exitCode;
}

}  // namespace tolm::cli
