// tolm-upgrade-cli identify and split: what a file is, and cutting a
// two-image scanner file into its two halves.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/Unit1.h"
#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Consoletext.h"
#include "cli/Filecheck.h"
#include "cli/Jsonout.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_tid_packet.h"
#include "toolkit/Files.h"
#include "toolkit/Messages.h"

namespace tolm::cli {

bool CanReadFile(const std::string& path, std::string& whyNot) {
    // Opened as it is read: a file swapped for a FIFO meanwhile is still refused, never waited on.
    const int fd = path.empty() ? (errno = ENOENT, -1) : OpenRegularFile(path);
    if (fd >= 0) {
        CloseFile(fd);
        return true;
    }
    switch (errno) {
        case EISDIR: whyNot = path + ": is a directory, not a firmware file"; break;
        case EINVAL: whyNot = path + ": is not a regular file"; break;
        case EBUSY:
            whyNot = path + ": another program holds the file locked and lets no other program read it "
                            "(a sharing violation); close that program and try again";
            break;
        case ENOLCK:
            whyNot = path + ": another program holds a lock on the file's contents; close that program and try again";
            break;
        default: whyNot = path + ": " + std::strerror(errno); break;
    }
    return false;
}

namespace {
// Records the check's messages instead of printing them.
class CollectSink : public IMessageSink {
public:
    void Show(const std::string& text, const std::string&, TMsgIcon) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

// The decoded trailer text: the 50 bytes at the start of the last 1024-byte
// block (or of the file, when it is shorter), each stored +10.
std::string DecodedTrailer(const std::string& path) {
    int fd = OpenRegularFile(path);
    if (fd < 0) return {};
    const long long size = OpenFileSize(fd);
    unsigned char buf[50];
    const long long n = ReadFileAt(fd, size >= 1024 ? size - 1024 : 0, buf, sizeof buf);
    CloseFile(fd);
    std::string out;
    for (long long i = 0; i < n; ++i) out += static_cast<char>(buf[i] - 10);
    return out;
}

std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

int Identify(const std::string& file, bool json) {
    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }

    auto sink = std::make_shared<CollectSink>();
    auto previous = InstallMessageSink(sink);
    TForm1 form;
    form.OpenDialog1.SetChooser([file](const TOpenDialog&, std::string& chosen) {
        chosen = file;
        return true;
    });
    std::string raised;
    try {
        form.SelectFirmwareFile();
    } catch (const std::exception& e) {
        raised = e.what();
    }
    InstallMessageSink(previous);

    const bool font = file.size() >= 4 && [&] {
        std::string tail = file.substr(file.size() - 4);
        for (auto& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return tail == ".FON";
    }();
    const std::string trailer = font ? std::string() : DecodedTrailer(file);
    auto field = [&](size_t from, size_t len) {
        return trailer.size() >= from + len ? Printable(trailer.substr(from, len)) : std::string();
    };
    const long long size = RegularFileFacts(file).value_or(TFileFacts{}).Size;

    const bool accepted = raised.empty() && !form.FirmwareFile.empty() && form.Family() != TFamily::None;
    std::string reason;
    if (!raised.empty()) reason = raised;
    for (auto& t : sink->texts) reason += (reason.empty() ? "" : "; ") + t;
    if (!form.Error.Caption().empty()) reason += (reason.empty() ? "" : "; ") + form.Error.Caption();
    if (raised.empty() && form.Family() == TFamily::None && reason.empty())
        reason = "the trailer names no known device family";
    if (!accepted && reason.empty()) reason = "the trailer could not be read whole";

    const std::string family = font ? "4" : std::to_string(form.FirmwareFamily);
    const std::string code = font ? "font" : Printable(form.FamilyCode);
    if (json) {
        // One object on one line, as scripts that collect a line per file expect.
        TJson out = TJson::object();
        PutText(out, "file", file);
        out["size"] = static_cast<int64_t>(size);
        out["family"] = font ? 4 : form.FirmwareFamily;
        PutText(out, "family_code", code);
        PutText(out, "model_code", field(1, 4));
        PutText(out, "digit6", field(6, 1));
        PutText(out, "kernel_digit", field(10, 1));
        PutText(out, "digit14", field(14, 1));
        PutText(out, "quorin_version", field(18, 3));
        out["accepted"] = accepted;
        PutText(out, "reason", reason);
        Printf(stdout, "%s\n", CompactJson(out).c_str());
    } else {
        Printf(stdout, "file:           %s\n", file.c_str());
        Printf(stdout, "size:           %lld bytes\n", size);
        Printf(stdout, "family:         %s (%s)\n", family.c_str(), code.c_str());
        if (!font) {
            Printf(stdout, "model code:     %s\n", field(1, 4).c_str());
            Printf(stdout, "digits 6/10/14: %s %s %s\n", field(6, 1).c_str(), field(10, 1).c_str(),
                   field(14, 1).c_str());
            Printf(stdout, "version:        %s\n", field(18, 3).c_str());
        }
        Printf(stdout, "accepted:       %s%s%s\n", accepted ? "yes" : "no", reason.empty() ? "" : " - ",
               reason.c_str());
    }
    return accepted ? kExitPass : kExitFailed;
}

int Split(const std::string& file) {
    std::string whyNot;
    if (!CanReadFile(file, whyNot)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    TScan_TID_Packet tid;
    const int r = tid.DecomposeRomFile(file);
    if (r != 0) {
        Printf(stderr, "tolm-upgrade-cli: cannot split %s (result %d)\n", file.c_str(), r);
        return kExitFailed;
    }
    Printf(stdout, "Scan.BIN\nDock.BIN\n");
    return kExitPass;
}
}  // namespace

void AddIdentifyCommand(CLI::App& app, CommandRun& run) {
    struct Options {
        std::string file;
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* cmd = app.add_subcommand("identify", "what FILE is and whether it is accepted");
    cmd->add_option("FILE", options->file, "firmware (.bin) or font (.fon) file")->required();
    cmd->add_flag("--json", options->json, "print one JSON object instead of lines of text");
    cmd->footer(
        "Shows the family, model code, trailer digits, Quorin version and size of a firmware or font file,\n"
        "and whether the window's file check accepts it (and why not). Exit status 0 when accepted, 1 when\n"
        "refused, 2 when the file is missing or unreadable.");
    cmd->callback([options, &run] { run = [options] { return Identify(options->file, options->json); }; });
}

void AddSplitCommand(CLI::App& app, CommandRun& run) {
    auto file = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("split", "cut a two-image scanner file");
    cmd->add_option("FILE", *file, "two-image scanner firmware file")->required();
    cmd->footer("Cuts a two-image scanner file into Scan.BIN (scanner image) and Dock.BIN (docking-station\n"
                "image) in the current directory.");
    cmd->callback([file, &run] { run = [file] { return Split(*file); }; });
}

}  // namespace tolm::cli
