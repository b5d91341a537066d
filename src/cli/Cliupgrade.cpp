// tolm-upgrade-cli upgrade: the window's file check and "Upgrade" press, on
// the terminal.
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>

#include "app/Logfile.h"
#include "app/Unit1.h"
#include "cli/Cliargs.h"
#include "cli/Climessages.h"
#include "cli/Commands.h"
#include "cli/Filecheck.h"
#include "cli/Portarg.h"
#include "cli/Progressview.h"
#include "cli/Stopsignals.h"

namespace tolm::cli {

namespace {
struct UpgradeOptions {
    std::string file;
    std::string port = "1";
    std::string log;
    long waitSeconds = 60;
};

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
int Upgrade(const UpgradeOptions& options) {
    const std::string& file = options.file;
    const long waitSeconds = options.waitSeconds;
    PortArg port(options.port);
    if (!options.log.empty()) SetLogPath(options.log);

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
    ProgressView progress(form.PBar, form.PBar_num, stderr, isatty(STDERR_FILENO) != 0);

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
        return kExitUsage;
    }
    if (form.FirmwareFamily == 0) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s names no known device family in its trailer\n", file.c_str());
        std::printf("G001.1 Upgrade file invalid\n");
        return kExitUsage;
    }
    // The file may have been refused silently by a family check that found no
    // valid trailer; the emptied file is what tells.
    SelectPort(form, port.Number());

    // From here on a signal stops the upgrade after its current exchange.
    TStopSignals stop([&form] { form.TolmSerialComm1.RequestStop(); });
    form.RunEvent([&] { form.UpgradeClick(); });
    if (sink->Saw("E001: Warn ComPort to be unable to open")) {
        progress.Finish();
        return kExitPort;
    }

    bool timedOut = false;
    if (form.FirmwareFamily == 3) {
        // The terminal's announcement starts the transfer inside the receive
        // handler; it is over once the result line holds its outcome.
        std::fprintf(stderr, "waiting up to %ld s for the terminal's announcement on port %d\n", waitSeconds,
                     port.Number());
        timedOut = !PumpUntil([&] { return !form.Error.Caption().empty() || stop.Stopped(); },
                              static_cast<int>(waitSeconds * 1000));
        // A terminal that acknowledges the connect request ends the sequence
        // without a transfer or a message, so the wait runs out then too.
        if (timedOut)
            std::fprintf(stderr,
                         "tolm-upgrade-cli: no result within %ld s: no announcement came, or the terminal "
                         "acknowledged the connect request and no transfer followed\n",
                         waitSeconds);
    } else if (form.Docking_Times.Enabled()) {
        // A two-image file: the docking station's image follows on the timer.
        PumpUntil([&] { return !form.Docking_Times.Enabled() || stop.Stopped(); }, -1);
    }
    progress.Finish();
    std::string result = form.Error.Caption();
    // A signal that came after the whole upgrade had passed changes nothing.
    const bool complete = IsPass(result) && !form.Docking_Times.Enabled();
    if (stop.Stopped() && !complete) {
        // Nothing more is sent; the port is closed before the outcome is told.
        form.Docking_Times.SetEnabled(false);
        form.TolmSerialComm1.CloseComPort(port.Number());
        if (result.empty() || IsPass(result)) result = "Upgrade stopped";
        std::printf("%s\n", result.c_str());
        std::fflush(stdout);
        return stop.ExitStatus();
    }
    std::printf("%s\n", result.c_str());
    std::fflush(stdout);
    return IsPass(result) && !timedOut ? kExitPass : kExitFailed;
}
}  // namespace

void AddUpgradeCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<UpgradeOptions>();
    CLI::App* cmd = app.add_subcommand("upgrade", "upgrade a device with FILE");
    cmd->add_option("FILE", options->file, "firmware (.bin) or font (.fon) file")->required();
    cmd->add_option("--port", options->port,
                    "port number (3), COM name (COM3) or device path (/dev/ttyUSB0); default 1")
        ->type_name("P");
    cmd->add_option("--log", options->log, "write the diagnostic hex-dump log to FILE")->type_name("FILE");
    cmd->add_option("--wait", options->waitSeconds,
                    "how long a Quorin file waits for the terminal's announcement (default 60)")
        ->type_name("SECONDS")
        ->check(WholeNumber(0, 24 * 3600));
    cmd->footer(
        "Checks FILE as the window does and runs the \"Upgrade\" press on port P.\n"
        "The last line on stdout is the result line. Exit status: 0 \"Upgrade PASS\" or \"Font Upgrade PASS\";\n"
        "1 any other outcome; 2 usage error or a file that is missing, unreadable or refused; 3 port not opened;\n"
        "130 or 143 when SIGINT or SIGTERM stopped the upgrade after its current exchange.");
    cmd->callback([options, &run] { run = [options] { return Upgrade(*options); }; });
}

}  // namespace tolm::cli
