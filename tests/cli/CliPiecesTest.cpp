// Port lists of the multi-port commands and the station's results file.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "cli/Cliargs.h"
#include "cli/Portlist.h"
#include "cli/Resultsfile.h"

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
}

TEST(ResultsFile, HeaderOnlyInANewFileAndFieldsQuotedWhereNeeded) {
    tolm::test::TempDir dir;
    TPortRow row;
    row.Label = "COM3";
    row.Identity.ModelCode = "LB1Y";
    row.Identity.TerminalName = "A,\"B\"";
    row.Result = "Upgrade PASS";
    row.HasResult = true;
    row.Seconds = 12.34;
    {
        TResultsFile file(dir.File("r.csv"));
        ASSERT_TRUE(file.IsOpen()) << file.Error();
        EXPECT_TRUE(file.Append(row, "2LB"));
    }
    {
        TResultsFile again(dir.File("r.csv"));  // a station started again keeps appending
        EXPECT_TRUE(again.Append(row, "2LB"));
    }
    const std::string text = dir.Read("r.csv");
    const std::string line = ",COM3,2LB,LB1Y,,,\"A,\"\"B\"\"\",Upgrade PASS,12.3\n";
    EXPECT_EQ(text.rfind(std::string(TResultsFile::kHeader) + "\n", 0), 0u) << text;
    EXPECT_EQ(text.find(TResultsFile::kHeader, 1), std::string::npos) << "header written twice:\n" << text;
    size_t first = text.find(line), second = text.rfind(line);
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_NE(first, second) << text;
    EXPECT_FALSE(TResultsFile(dir.Path()).IsOpen()) << "a folder is no results file";
}
