// tolm-upgrade-cli quorin ... and kv ...: the file operations of a Quorin
// terminal and the command files of a KV terminal.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>

#include "base/Logfile.h"
#include "cli/Cliargs.h"
#include "cli/Climessages.h"
#include "cli/Commands.h"
#include "cli/Consoletext.h"
#include "cli/Filecheck.h"
#include "cli/Portarg.h"
#include "platform/Portaccess.h"
#include "platform/Portmap.h"
#include "protocol/Frame.h"
#include "protocol/Kv_packet.h"
#include "protocol/Quorin_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"
#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"

namespace tolm::cli {

namespace {
struct QuorinOptions {
    std::string verb;
    std::string file;  // put: the local file; info and delete: the terminal's file name
    std::string port = "1";
    std::string log;
    std::string drive = "A";
    long waitSeconds = 60;
    long selector = 0;
};

struct KvOptions {
    std::string file;
    std::string port = "1";
    long baud = 38400;
    long chunk = 0;
    long pause = 0;
    bool reply = false;
};

struct OpenPort {
    TTolmSerialComm& comm;
    int port;
    ~OpenPort() { comm.CloseComPort(port); }
};

int OpenOrReport(TTolmSerialComm& comm, int port, const std::string& settings) {
    if (comm.OpenComPort(port, settings) != 0) {
        Printf(stderr, "E001: Warn ComPort to be unable to open\n");
        const std::string hint = PortAccessHint(PortMap::DevicePath(port), comm.LastOpenError());
        if (!hint.empty()) Printf(stderr, "%s\n", hint.c_str());
        return kExitPort;
    }
    return kExitPass;
}

// A or B (any case, colon allowed) to drive 0 or 1; -1 for anything else.
int DriveNumber(const std::string& drive) {
    if (drive == "A" || drive == "a" || drive == "A:" || drive == "a:") return 0;
    if (drive == "B" || drive == "b" || drive == "B:" || drive == "b:") return 1;
    return -1;
}

// An announcement of a Quorin terminal: its type byte, the announcement
// command and the whole name field (as the window acknowledges only these).
bool IsQuorinAnnouncement(const TByteBuffer& bytes) {
    return bytes.Length() >= 20 && bytes[frame::kDeviceTypeOffset] == TQuorin_Packet::kDeviceType &&
           bytes[frame::kCommandOffset] == frame::kAnnounce;
}

// Waits for the terminal's announcement and acknowledges it, so that the
// requests that follow carry its ID.
bool AwaitAnnouncement(TTolmSerialComm& comm, TQuorin_Packet& quorin, long seconds) {
    bool announced = false;
    bool warned = false;
    comm.OnReceiveData = [&](TReceivePacket* p) {
        if (announced || !p) return;
        if (!IsQuorinAnnouncement(p->Bytes)) {
            const TByteBuffer& b = p->Bytes;
            if (!warned && b.Length() > frame::kCommandOffset && b[frame::kCommandOffset] == frame::kAnnounce) {
                Printf(stderr, "tolm-upgrade-cli: ignoring the announcement of a device of type %d\n",
                       b[frame::kDeviceTypeOffset]);
                warned = true;
            }
            return;
        }
        quorin.SetTerminalID(p->Bytes);
        quorin.SendACK(&comm);
        comm.ClearBuffer(quorin.PortNumber);
        Printf(stderr, "terminal %s announced\n", TPacketFrame::GetTerminalName(p->Bytes).c_str());
        announced = true;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!announced && std::chrono::steady_clock::now() < until) WaitMessages(50);
    comm.OnReceiveData = nullptr;
    return announced;
}

std::string Hex(const TByteBuffer& bytes) {
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

int Quorin(const QuorinOptions& options) {
    const std::string& verb = options.verb;
    const int drive = DriveNumber(options.drive);
    const long selector = options.selector;
    const long waitSeconds = options.waitSeconds;
    PortArg port(options.port);
    if (!options.log.empty()) SetLogPath(options.log);
    if (verb == "put") {
        std::string whyNot;
        if (!CanReadFile(options.file, whyNot)) {
            Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
            return kExitUsage;
        }
    }

    auto sink = std::make_shared<StderrLinesSink>();
    auto previous = InstallMessageSink(sink);
    TTolmSerialComm comm;
    TQuorin_Packet quorin;
    quorin.PortNumber = port.Number();
    if (int r = OpenOrReport(comm, port.Number(), "115200,n,8,1"); r != kExitPass) return r;
    OpenPort closer{comm, port.Number()};
    if (!AwaitAnnouncement(comm, quorin, waitSeconds)) {
        Printf(stderr, "tolm-upgrade-cli: no announcement from the terminal within %ld s\n", waitSeconds);
        return kExitFailed;
    }

    int exitCode = kExitFailed;
    if (verb == "put") {
        TProgressBar bar("PBar");
        const int r = quorin.Send_61_Download(&comm, drive, options.file, &bar);
        static const char* const kWhy[] = {"", "", "empty path", "start not acknowledged",
                                           "a data block not acknowledged", "end not acknowledged",
                                           "an error occurred", "file missing, unreadable or larger than 548 blocks"};
        if (r == 0) {
            Printf(stdout, "sent\n");
            exitCode = kExitPass;
        } else {
            Printf(stdout, "failed (%d: %s)\n", r, (r <= -2 && r >= -7) ? kWhy[-r] : "unknown");
        }
    } else if (verb == "info") {
        int32_t size = 0;
        std::string text;
        if (quorin.Send_63_StartPacket(&comm, drive, options.file, size, text)) {
            Printf(stdout, "size: %d\ntext: %s\n", size, text.c_str());
            exitCode = kExitPass;
        } else {
            Printf(stdout, "no answer\n");
        }
    } else if (verb == "delete") {
        const int r = quorin.Send_66_Delete(&comm, drive, options.file, nullptr);
        Printf(stdout, r == 0 ? "deleted\n" : "failed (%d)\n", r);
        exitCode = r == 0 ? kExitPass : kExitFailed;
    } else if (verb == "df") {
        Printf(stdout, "%u\n", quorin.Send_6A_CheckDiskFree(&comm, static_cast<int>(selector)));
        exitCode = kExitPass;
    } else {
        const std::string directory = quorin.Send_73_Dir(&comm, static_cast<int>(selector));
        TListView list("ListView");
        try {
            TQuorin_Packet::ShowTreeView(&list, directory);
        } catch (const Exception& e) {
            Printf(stderr, "tolm-upgrade-cli: the directory text is malformed: %s\n", e.Message.c_str());
            return kExitFailed;
        }
        for (const auto& row : list.Items())
            Printf(stdout, "%-16s %s\n", row.Caption.c_str(), row.SubItems.empty() ? "" : row.SubItems[0].c_str());
        exitCode = kExitPass;
    }
    InstallMessageSink(previous);
    return exitCode;
}

int KvSend(const KvOptions& options) {
    const std::string& file = options.file;
    const bool chunked = options.chunk > 0;
    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    PortArg port(options.port);
    auto sink = std::make_shared<StderrLinesSink>();
    auto previous = InstallMessageSink(sink);
    TTolmSerialComm comm;
    TKV_Packet kv;
    kv.PortNumber = port.Number();
    if (int r = OpenOrReport(comm, port.Number(), std::to_string(options.baud) + ",n,8,1"); r != kExitPass) return r;
    int exitCode;
    {
        OpenPort closer{comm, port.Number()};
        if (options.reply) {
            const TByteBuffer reply = kv.Send_Command_from_BinFile_ReceiveByte(&comm, file);
            Printf(stdout, "%s\n", reply.IsEmpty() ? "(no answer)" : Hex(reply).c_str());
            exitCode = reply.IsEmpty() ? kExitFailed : kExitPass;
        } else {
            const int r = chunked ? kv.Send_Command_from_BinFile(&comm, file, static_cast<int>(options.chunk),
                                                                 static_cast<int>(options.pause))
                                  : kv.Send_Command_from_BinFile(&comm, file);
            Printf(stdout, r == 0 ? "sent\n" : "failed (%d)\n", r);
            exitCode = r == 0 ? kExitPass : kExitFailed;
        }
    }
    InstallMessageSink(previous);
    return exitCode;
}

CLI::Validator DriveLetter() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return DriveNumber(text) < 0 ? "takes A or B, not \"" + text + "\"" : std::string();
        },
        "");
}

// --port, --wait and --log, on "quorin" and on each of its verbs, so that
// they may stand before or after the verb.
void AddLinkOptions(CLI::App* cmd, QuorinOptions& options) {
    cmd->add_option("--port", options.port,
                    std::string(kPortForms) + "; default 1")
        ->type_name("P");
    cmd->add_option("--wait", options.waitSeconds, "how long to wait for the terminal's announcement (default 60)")
        ->type_name("SECONDS")
        ->check(WholeNumber(0, 24 * 3600));
    cmd->add_option("--log", options.log, "write the diagnostic hex-dump log to FILE")->type_name("FILE");
}
}  // namespace

void AddQuorinCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<QuorinOptions>();
    CLI::App* cmd = app.add_subcommand("quorin", "files on a Quorin terminal: put, info, delete, df, dir");
    AddLinkOptions(cmd, *options);
    cmd->require_subcommand(1);
    cmd->footer(
        "Waits for the terminal's announcement, then works on the files of its drives. --port, --wait and\n"
        "--log may stand before or after the verb; each verb takes --help.");

    struct Verb {
        const char* name;
        const char* description;
        const char* fileName;  // the positional argument, if the verb takes one
        const char* fileText;
        long maxSelector;      // 0: no --selector
    };
    static const Verb kVerbs[] = {
        {"put", "send FILE to the terminal", "FILE", "local file to send", 0},
        {"info", "show a terminal file's size and reply text", "NAME", "file name on the terminal", 0},
        {"delete", "remove a file from the terminal", "NAME", "file name on the terminal", 0},
        {"df", "show disk space figure 0 or 1", nullptr, nullptr, 1},
        {"dir", "list a drive's files", nullptr, nullptr, 255},
    };
    for (const Verb& verb : kVerbs) {
        CLI::App* sub = cmd->add_subcommand(verb.name, verb.description);
        AddLinkOptions(sub, *options);
        if (verb.fileName) {
            sub->add_option(verb.fileName, options->file, verb.fileText)->required();
            sub->add_option("--drive", options->drive, "drive A or B (default A)")
                ->type_name("A|B")
                ->check(DriveLetter());
        } else {
            sub->add_option("--selector", options->selector, "which figure or listing (default 0)")
                ->type_name("N")
                ->check(WholeNumber(0, verb.maxSelector));
        }
        sub->callback([options, name = std::string(verb.name), &run] {
            options->verb = name;
            run = [options] { return Quorin(*options); };
        });
    }
}

void AddKvCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<KvOptions>();
    CLI::App* cmd = app.add_subcommand("kv", "send a command file to a KV terminal");
    cmd->require_subcommand(1);
    CLI::App* send = cmd->add_subcommand("send", "send the bytes of a command FILE");
    send->add_option("FILE", options->file, "prepared command file")->required();
    send->add_option("--port", options->port,
                     std::string(kPortForms) + "; default 1")
        ->type_name("P");
    send->add_option("--baud", options->baud, "line speed (default 38400)")
        ->type_name("N")
        ->check(WholeNumber(50, 4000000));
    auto* chunk = send->add_option("--chunk", options->chunk, "send in chunks of N bytes")
                      ->type_name("N")
                      ->check(WholeNumber(1, 1 << 20));
    auto* pause = send->add_option("--pause", options->pause, "wait MS milliseconds between chunks")
                      ->type_name("MS")
                      ->check(WholeNumber(0, 60000));
    auto* reply = send->add_flag("--reply", options->reply, "wait up to 3 s for the answer and print it in hex");
    chunk->needs(pause);
    pause->needs(chunk);
    reply->excludes(chunk);
    reply->excludes(pause);
    send->footer(
        "Sends the bytes of a prepared command file to a KV terminal unchanged: all at once, in chunks of N\n"
        "bytes with MS milliseconds between them (giving up after 500 failed sends), or all at once waiting\n"
        "up to 3 s for the terminal's answer, which is printed in hex.");
    send->callback([options, &run] { run = [options] { return KvSend(*options); }; });
}

}  // namespace tolm::cli
