// Pieces of the multi-port commands that decide what runs and what is kept:
// port lists, the results file, the outcome of a child, the removal rule,
// the file digest and the watch on a port's node.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "TestSupport.h"
#include "cli/Cliargs.h"
#include "cli/Portlist.h"
#include "cli/Portnodewatch.h"
#include "cli/Removal.h"
#include "cli/Resultsfile.h"
#include "records/Uuid.h"
#include "cli/Sha256.h"

using namespace tolm::cli;
using Ports = std::vector<std::string>;

TEST(PortList, ListsRangesAndPathsExpandInTheOrderGiven) {
    EXPECT_EQ(ExpandPortList({"3,4,7-10"}), (Ports{"3", "4", "7", "8", "9", "10"}));
    EXPECT_EQ(ExpandPortList({"COM12-com13", "2"}), (Ports{"12", "13", "2"}));
    // Stable device names hold dashes; they are paths, not ranges.
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0";
    EXPECT_EQ(ExpandPortList({byId + ",/dev/ttyUSB1"}), (Ports{byId, "/dev/ttyUSB1"}));
    for (const Ports& bad : {Ports{"3,com3"}, Ports{"3", "1-4"}, Ports{"9-7"}, Ports{"1-300"}, Ports{"3,"},
                             Ports{"x-4"}, Ports{"0"}})
        EXPECT_THROW(ExpandPortList(bad), UsageError) << bad[0];
    // One device under two names: a number and the path it links to, or two numbers.
    tolm::test::TempDir dir;
    tolm::test::PtyPair pty;
    tolm::test::LinkPort(dir, 3, pty.SlavePath());
    tolm::test::LinkPort(dir, 4, pty.SlavePath());
    EXPECT_THROW(ExpandPortList({"3", pty.SlavePath()}), UsageError);
    EXPECT_THROW(ExpandPortList({"3,4"}), UsageError);
}

namespace {
TPortRow PassRow() {
    TPortRow row;
    row.Label = "COM3";
    row.Family = "2LB";
    row.Identity.ModelCode = "LB1Y";
    row.Identity.KernelDigits = "7/1/0";
    row.Result = "Upgrade PASS";
    row.HasResult = true;
    row.Attempted = true;
    row.Seconds = 12.34;
    row.Ended = true;
    row.Exit.Waited = true;
    row.Exit.Code = 0;
    return row;
}
}  // namespace

TEST(ResultsFile, LinesCarryTheFileDigestAndProgramAndAreSafeInSpreadsheets) {
    tolm::test::TempDir dir;
    TPortRow row = PassRow();
    row.Identity.TerminalName = "=A,\"B\"";
    row.Dock.TerminalID = "00000002";
    row.Identity.TerminalID = "00000001";
    const TRecordingBench bench{"bench-7", "op-1"};
    {
        TResultsFile file(dir.File("r.csv"), "abc123", "3.4.8", bench);
        ASSERT_TRUE(file.IsOpen()) << file.Error();
        EXPECT_TRUE(file.Append(file.Line(row)));
    }
    {
        TResultsFile again(dir.File("r.csv"), "abc123", "3.4.8", bench);  // a station started again keeps appending
        ASSERT_TRUE(again.IsOpen()) << again.Error();
        EXPECT_TRUE(again.Append(again.Line(row)));
    }
    const std::string text = dir.Read("r.csv");
    const std::string line = ",COM3,2LB,LB1Y,7_1_0,00000001 + 00000002,\"'=A,\"\"B\"\"\",Upgrade PASS,12.3,abc123,3.4.8,";
    const std::string header = tolm::records::kResultsHeader;
    EXPECT_EQ(text.rfind(header + "\n", 0), 0u) << text;
    EXPECT_EQ(text.find(header, 1), std::string::npos) << "header written twice:\n" << text;
    size_t first = text.find(line), second = text.rfind(line);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(first, second) << text;
    // Each attempt its own ID; the bench, the times in UTC and the device's own ID follow.
    auto fieldsAt = [&](size_t at) {
        return *tolm::records::CsvFields(text.substr(at + 1, text.find('\n', at) - at - 1));
    };
    const auto a = fieldsAt(first), b = fieldsAt(second);
    ASSERT_EQ(a.size(), 16u) << text;
    EXPECT_TRUE(tolm::records::IsUuid(a[10]) && tolm::records::IsUuid(b[10]) && a[10] != b[10]) << text;
    EXPECT_EQ(a[11] + "|" + a[12] + "|" + a[15], "bench-7|op-1|00000001");
    EXPECT_TRUE(a[13].ends_with("Z") && a[14].ends_with("Z") && a[13] < a[14]) << text;
    for (const std::string lead : {"+", "-", "@"}) EXPECT_EQ(TResultsFile::Field(lead + "1"), "'" + lead + "1");

    // Files of older versions keep their columns.
    dir.Write("old.csv", std::string(tolm::records::kResultsHeaderShort) + "\n");
    TResultsFile old(dir.File("old.csv"), "abc123", "3.4.8", bench);
    ASSERT_TRUE(old.IsOpen()) << old.Error();
    EXPECT_TRUE(old.Line(row).ends_with(",Upgrade PASS,12.3")) << old.Line(row);
    dir.Write("noids.csv", std::string(tolm::records::kResultsHeaderWithoutIds) + "\n");
    TResultsFile noIds(dir.File("noids.csv"), "abc123", "3.4.8", bench);
    EXPECT_TRUE(noIds.Line(row).ends_with(",Upgrade PASS,12.3,abc123,3.4.8")) << noIds.Line(row);
}

TEST(ResultsFile, RefusesWhatIsNoResultsFileOfItsOwn) {
    tolm::test::TempDir dir;
    dir.Write("target.csv", "");
    std::filesystem::create_symlink(dir.File("target.csv"), dir.File("link.csv"));
    ASSERT_EQ(mkfifo(dir.File("fifo.csv").c_str(), 0600), 0);
    dir.Write("other.csv", "name,size\nx,1\n");
    for (const std::string name : {"", "link.csv", "fifo.csv", "other.csv"}) {
        TResultsFile file(name.empty() ? dir.Path() : dir.File(name), "", "");
        EXPECT_FALSE(file.IsOpen()) << name;
        EXPECT_FALSE(file.Error().empty()) << name;
    }
    EXPECT_EQ(dir.Read("target.csv"), "") << "written through a link at the results file's name";
    EXPECT_EQ(dir.Read("other.csv"), "name,size\nx,1\n");
}

// A write that does not fit (here a file size limit) leaves the file as it
// was, ending with its last whole line.
TEST(ResultsFile, ALineThatDoesNotFitLeavesNoPartOfIt) {
    tolm::test::TempDir dir;
    const std::string path = dir.File("r.csv");
    { TResultsFile create(path, "abc", "1"); }
    const auto before = std::filesystem::file_size(path);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before + 20, before + 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        TResultsFile file(path, "abc", "1");
        const bool written = file.Append(file.Line(PassRow()));
        _exit(!written && file.Error().find("too large") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the short write was not reported";
    EXPECT_EQ(std::filesystem::file_size(path), before) << dir.Read("r.csv");
}

TEST(PortRow, APassCountsOnlyFromAChildThatThenEndedCleanly) {
    TPortRow row = PassRow();
    EXPECT_TRUE(row.Passed());
    EXPECT_EQ(row.Outcome(), "Upgrade PASS");

    TPortRow killed = PassRow();
    killed.Exit.Signalled = true;
    killed.Exit.Signal = 9;
    EXPECT_FALSE(killed.Passed());
    EXPECT_EQ(killed.Outcome(), "Upgrade Error (the upgrade process ended by signal 9)");
    killed.HasResult = false;  // killed mid-transfer: still a line of its own
    EXPECT_EQ(killed.Outcome(), "Upgrade Error (the upgrade process ended by signal 9)");

    TPortRow unwaited = PassRow();
    unwaited.Exit = {};
    unwaited.Exit.Error = "No child processes";
    EXPECT_FALSE(unwaited.Passed());
    EXPECT_EQ(unwaited.Outcome().rfind("Upgrade Error (the upgrade process could not be waited for", 0), 0u);

    TPortRow failed = killed;
    failed.HasResult = true;
    failed.Result = "G006.4 Firmware dons not support this model";
    EXPECT_EQ(failed.Outcome(), failed.Result) << "the reported failure stands";

    TPortRow stopped = PassRow();
    stopped.HasResult = false;
    stopped.Exit.Code = kExitStopped;
    EXPECT_EQ(stopped.Outcome(), "Upgrade stopped");
}

TEST(RemovalRule, OnlyFactsMakeADeviceGone) {
    using namespace std::chrono;
    TDeviceIdentity scanner{"LB1Y", "7/1/0", "", ""};
    TDeviceIdentity terminal{"", "3", "0000ABCD", "QR1000"};
    EXPECT_FALSE(TRemovalRule::IsAnotherDevice({scanner}, scanner));
    EXPECT_FALSE(TRemovalRule::IsAnotherDevice({scanner}, {"LB1Y", "", "", ""})) << "a field not told differs not";
    EXPECT_TRUE(TRemovalRule::IsAnotherDevice({scanner}, {"LB1Y", "7/2/0", "", ""}));
    EXPECT_TRUE(TRemovalRule::IsAnotherDevice({scanner}, {"LB2Y", "7/1/0", "", ""}));
    EXPECT_FALSE(TRemovalRule::IsAnotherDevice({terminal}, {"", "", "0000ABCD", ""}));
    EXPECT_TRUE(TRemovalRule::IsAnotherDevice({terminal}, {"", "", "0000ABCE", ""}));
    EXPECT_FALSE(TRemovalRule::IsAnotherDevice({}, scanner)) << "nothing known of the device before";
    // A scanner and its docking station: either one answering is the same device.
    TDeviceIdentity dock{"", "2", "00000002", "DOCK01"};
    EXPECT_FALSE(TRemovalRule::IsAnotherDevice({terminal, dock}, {"", "2", "00000002", ""}));

    const auto t0 = steady_clock::now();
    TRemovalRule quiet({scanner}, seconds(0), t0);
    quiet.Silent(t0 + hours(1));
    EXPECT_FALSE(quiet.Gone()) << "silence counts only where it is given a time";
    EXPECT_EQ(quiet.SilenceLeft(t0 + hours(1)), -1);

    TRemovalRule uart({scanner}, seconds(10), t0);
    uart.Silent(t0 + seconds(4));
    EXPECT_EQ(uart.SilenceLeft(t0 + seconds(4)), 6);
    uart.Answered({scanner}, t0 + seconds(8));  // answers again: the count starts over
    uart.Silent(t0 + seconds(17));
    EXPECT_FALSE(uart.Gone());
    uart.Silent(t0 + seconds(18));
    EXPECT_TRUE(uart.Gone());
    EXPECT_FALSE(uart.AnotherDeviceAnswered());

    TRemovalRule swapped({scanner}, seconds(0), t0);
    swapped.Answered({{"LB1Y", "7/3/0", "", ""}}, t0);
    EXPECT_TRUE(swapped.Gone());
    EXPECT_TRUE(swapped.AnotherDeviceAnswered());
    EXPECT_EQ(IdentityFromArgument(AfterArgument(terminal)), (TDeviceIdentity{"", "3", "0000ABCD", ""}));
}

TEST(Sha256, KnownDigests) {
    tolm::test::TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    for (const auto& [text, digest] : cases) {
        dir.Write("f", text);
        std::string error;
        EXPECT_EQ(FileSha256(dir.File("f"), error), digest) << text.size() << " bytes";
    }
    std::string error;
    EXPECT_EQ(FileSha256(dir.File("missing"), error), "");
    EXPECT_FALSE(error.empty());
}

// A link taken away and put back between two looks, exactly as it was, still
// counts as a change; a file beside it does not.
TEST(PortNodeWatch, SeesAShortGapBetweenTwoLooks) {
    tolm::test::TempDir dir;
    tolm::test::PtyPair pty;
    const std::string link = dir.File("COM3");
    std::filesystem::create_symlink(pty.SlavePath(), link);
    TPortNodeWatch watch;
    const size_t port = watch.Add([link] { return std::vector<std::string>{link}; });
    watch.Take();
    EXPECT_EQ(watch.Changes(port), 0u);
    dir.Write("COM4", "");
    watch.Take();
    EXPECT_EQ(watch.Changes(port), 0u) << "another port's entry changed nothing here";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty.SlavePath(), link);
    watch.Take();
    EXPECT_EQ(watch.Changes(port), 1u);
    {
        tolm::test::PtyPair next;  // the node the link leads to goes and another one comes
        std::filesystem::remove(link);
        std::filesystem::create_symlink(next.SlavePath(), link);
    }
    watch.Take();
    EXPECT_EQ(watch.Changes(port), 2u);
}
