// tolm-upgrade-cli quorin ... and kv ...: the file operations of a Quorin
// terminal and the command files of a KV terminal.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cctype>
#include <cstdio>
#include <memory>

#include "cli/Cliargs.h"
#include "cli/Climessages.h"
#include "cli/Commands.h"
#include "cli/Filecheck.h"
#include "cli/Portarg.h"
#include "platform/Portaccess.h"
#include "platform/Portmap.h"
#include "protocol/Kv_packet.h"
#include "protocol/Quorin_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"
#include "toolkit/Exception.h"

namespace tolm::cli {

namespace {
const char* kQuorinHelp =
    "usage: tolm-upgrade-cli quorin put    [OPTIONS] [--drive A|B] FILE\n"
    "       tolm-upgrade-cli quorin info   [OPTIONS] [--drive A|B] NAME\n"
    "       tolm-upgrade-cli quorin delete [OPTIONS] [--drive A|B] NAME\n"
    "       tolm-upgrade-cli quorin df     [OPTIONS] [--selector 0|1]\n"
    "       tolm-upgrade-cli quorin dir    [OPTIONS] [--selector N]\n"
    "\n"
    "Waits for the terminal's announcement, then works on the files of its drives.\n"
    "OPTIONS: --port P (number, COM name or device path; default 1), --wait SECONDS (default 60),\n"
    "         --log FILE (diagnostic hex-dump log)\n"
    "put sends FILE to the terminal; info shows a terminal file's size and reply text; delete removes it;\n"
    "df shows disk space figure 0 or 1; dir lists a drive's files.\n";

const char* kKvHelp =
    "usage: tolm-upgrade-cli kv send [--port P] [--baud N] FILE [--chunk N --pause MS | --reply]\n"
    "\n"
    "Sends the bytes of a prepared command file to a KV terminal unchanged: all at once, in chunks of N\n"
    "bytes with MS milliseconds between them (giving up after 500 failed sends), or all at once waiting\n"
    "up to 3 s for the terminal's answer, which is printed in hex. Default speed 38400.\n";

struct OpenPort {
    TTolmSerialComm& comm;
    int port;
    ~OpenPort() { comm.CloseComPort(port); }
};

int OpenOrReport(TTolmSerialComm& comm, int port, const std::string& settings) {
    if (comm.OpenComPort(port, settings) != 0) {
        std::fprintf(stderr, "E001: Warn ComPort to be unable to open\n");
        const std::string hint = PortAccessHint(PortMap::DevicePath(port), comm.LastOpenError());
        if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
        return kExitPort;
    }
    return kExitPass;
}

int DriveNumber(const Args& args) {
    const std::string drive = args.Value("--drive", "A");
    if (drive == "A" || drive == "a" || drive == "A:" || drive == "a:") return 0;
    if (drive == "B" || drive == "b" || drive == "B:" || drive == "b:") return 1;
    throw UsageError("--drive takes A or B, not \"" + drive + "\"");
}

// Waits for the terminal's announcement and acknowledges it, so that the
// requests that follow carry its ID.
bool AwaitAnnouncement(TTolmSerialComm& comm, TQuorin_Packet& quorin, long seconds) {
    bool announced = false;
    comm.OnReceiveData = [&](TReceivePacket* p) {
        if (announced || !p || p->Bytes.Length() <= 11 || p->Bytes[11] != 0x64) return;
        quorin.SetTerminalID(p->Bytes);
        quorin.SendACK(&comm);
        comm.ClearBuffer(quorin.PortNumber);
        std::fprintf(stderr, "terminal %s announced\n", TPacketFrame::GetTerminalName(p->Bytes).c_str());
        announced = true;
    };
    QElapsedTimer timer;
    timer.start();
    while (!announced && timer.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
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
}  // namespace

int QuorinCommand(const ArgList& argv) {
    Args args(argv, {"--port", "--wait", "--drive", "--selector", "--log"}, {"--help"});
    if (args.Flag("--help") || args.Positional().empty()) {
        std::fputs(kQuorinHelp, args.Flag("--help") ? stdout : stderr);
        return args.Flag("--help") ? kExitPass : kExitUsage;
    }
    const std::string verb = args.Positional()[0];
    if (verb == "put" || verb == "info" || verb == "delete")
        args.ExpectPositional(2, verb == "put" ? "FILE" : "terminal file NAME");
    else if (verb == "df" || verb == "dir")
        args.ExpectPositional(1, "nothing more");
    else
        throw UsageError("unknown quorin command \"" + verb + "\" (put, info, delete, df or dir)");
    const int drive = DriveNumber(args);
    const long selector = args.Number("--selector", 0, 0, 255);
    if (verb == "df" && selector > 1) throw UsageError("--selector of df is 0 or 1");
    const long waitSeconds = args.Number("--wait", 60, 0, 24 * 3600);
    PortArg port(args.Value("--port", "1"));
    if (verb == "put") {
        std::string whyNot;
        if (!CanReadFile(args.Positional()[1], whyNot)) {
            std::fprintf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
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
        std::fprintf(stderr, "tolm-upgrade-cli: no announcement from the terminal within %ld s\n", waitSeconds);
        return kExitFailed;
    }

    int exitCode = kExitFailed;
    if (verb == "put") {
        TProgressBar bar("PBar");
        const int r = quorin.Send_61_Download(&comm, drive, args.Positional()[1], &bar);
        static const char* const kWhy[] = {"", "", "empty path", "start not acknowledged",
                                           "a data block not acknowledged", "end not acknowledged",
                                           "an error occurred", "file missing, unreadable or larger than 548 blocks"};
        if (r == 0) {
            std::printf("sent\n");
            exitCode = kExitPass;
        } else {
            std::printf("failed (%d: %s)\n", r, (r <= -2 && r >= -7) ? kWhy[-r] : "unknown");
        }
    } else if (verb == "info") {
        int32_t size = 0;
        std::string text;
        if (quorin.Send_63_StartPacket(&comm, drive, args.Positional()[1], size, text)) {
            std::printf("size: %d\ntext: %s\n", size, text.c_str());
            exitCode = kExitPass;
        } else {
            std::printf("no answer\n");
        }
    } else if (verb == "delete") {
        const int r = quorin.Send_66_Delete(&comm, drive, args.Positional()[1], nullptr);
        std::printf(r == 0 ? "deleted\n" : "failed (%d)\n", r);
        exitCode = r == 0 ? kExitPass : kExitFailed;
    } else if (verb == "df") {
        std::printf("%u\n", quorin.Send_6A_CheckDiskFree(&comm, static_cast<int>(selector)));
        exitCode = kExitPass;
    } else {
        const std::string directory = quorin.Send_73_Dir(&comm, static_cast<int>(selector));
        TListView list("ListView");
        try {
            TQuorin_Packet::ShowTreeView(&list, directory);
        } catch (const Exception& e) {
            std::fprintf(stderr, "tolm-upgrade-cli: the directory text is malformed: %s\n", e.Message.c_str());
            return kExitFailed;
        }
        for (const auto& row : list.Items())
            std::printf("%-16s %s\n", row.Caption.c_str(), row.SubItems.empty() ? "" : row.SubItems[0].c_str());
        exitCode = kExitPass;
    }
    InstallMessageSink(previous);
    return exitCode;
}

int KvCommand(const ArgList& argv) {
    Args args(argv, {"--port", "--baud", "--chunk", "--pause"}, {"--reply", "--help"});
    if (args.Flag("--help") || args.Positional().empty()) {
        std::fputs(kKvHelp, args.Flag("--help") ? stdout : stderr);
        return args.Flag("--help") ? kExitPass : kExitUsage;
    }
    if (args.Positional()[0] != "send") throw UsageError("unknown kv command \"" + args.Positional()[0] + "\"");
    args.ExpectPositional(2, "command FILE");
    const std::string file = args.Positional()[1];
    const bool chunked = args.Has("--chunk") || args.Has("--pause");
    if (chunked && args.Flag("--reply")) throw UsageError("--reply cannot be combined with --chunk/--pause");
    if (args.Has("--chunk") != args.Has("--pause")) throw UsageError("--chunk and --pause go together");
    const long chunk = args.Number("--chunk", 0, 1, 1 << 20);
    const long pause = args.Number("--pause", 0, 0, 60000);
    const long baud = args.Number("--baud", 38400, 50, 4000000);
    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    PortArg port(args.Value("--port", "1"));
    auto sink = std::make_shared<StderrLinesSink>();
    auto previous = InstallMessageSink(sink);
    TTolmSerialComm comm;
    TKV_Packet kv;
    kv.PortNumber = port.Number();
    if (int r = OpenOrReport(comm, port.Number(), std::to_string(baud) + ",n,8,1"); r != kExitPass) return r;
    int exitCode;
    {
        OpenPort closer{comm, port.Number()};
        if (args.Flag("--reply")) {
            const TByteBuffer reply = kv.Send_Command_from_BinFile_ReceiveByte(&comm, file);
            std::printf("%s\n", reply.IsEmpty() ? "(no answer)" : Hex(reply).c_str());
            exitCode = reply.IsEmpty() ? kExitFailed : kExitPass;
        } else {
            const int r = chunked ? kv.Send_Command_from_BinFile(&comm, file, static_cast<int>(chunk),
                                                                 static_cast<int>(pause))
                                  : kv.Send_Command_from_BinFile(&comm, file);
            std::printf(r == 0 ? "sent\n" : "failed (%d)\n", r);
            exitCode = r == 0 ? kExitPass : kExitFailed;
        }
    }
    InstallMessageSink(previous);
    return exitCode;
}

}  // namespace tolm::cli
