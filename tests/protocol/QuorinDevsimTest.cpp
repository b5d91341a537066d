// The Quorin protocol object against the emulated Quorin terminal of
// tolm-devsim over a pseudo-terminal: a file put, listed, sized and deleted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TerminalLine.h"
#include "TestSupport.h"
#include "base/Logfile.h"
#include "protocol/Quorin_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

#ifdef TOLM_DEVSIM

using namespace tolm;
using tolm::test::Devsim;

namespace {

int CountLines(const std::string& text) {
    int lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
    return lines;
}

class QuorinDevsim : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
        SetLogPath(dir.File("DUMMY.TXT"));
    }
    void TearDown() override { SetLogPath(""); }

    test::TempDir dir;
};

}  // namespace

TEST_F(QuorinDevsim, FileIsPutListedSizedAndDeleted) {
    Devsim sim({"run", "quorin", "--link", dir.File("COM7"), "--set", "id=00000007", "--set", "announce-ms=60000",
                "--set", "capacity=100000", "--set", "files=A:AUTOEXEC.BAT:1234,A:X.TXT:0"});
    ASSERT_FALSE(sim.WaitForPty().empty());
    TTolmSerialComm comm;
    ASSERT_EQ(comm.OpenComPort(7, "115200,n,8,1"), 0);
    TQuorin_Packet q;
    q.PortNumber = 7;
    q.TerminalID = {0, 0, 0, 7};
    q.SendACK(&comm);

    dir.Write("prices.txt", std::string(5000, 'p'));
    TProgressBar bar("ProgressBar1");
    bar.SetMax(10);
    EXPECT_EQ(q.Send_61_Download(&comm, 0, dir.File("prices.txt"), &bar), 0);
    EXPECT_EQ(bar.Position(), 2) << "one step per block";
    EXPECT_EQ(CountLines(dir.Read("DUMMY.TXT")), 2) << "each data frame goes to the diagnostic log";

    const std::string listing = q.Send_73_Dir(&comm, 0);
    EXPECT_EQ(listing, "AUTOEXEC.BAT|1234|PRICES.TXT|5000|X.TXT|0");
    TListView list("ListView1");
    TQuorin_Packet::ShowTreeView(&list, listing);
    ASSERT_EQ(list.Items().size(), 3u);
    EXPECT_EQ(list.Items()[1].SubItems[0], "5,000 Bytes");
    EXPECT_TRUE(TQuorin_Packet::TermianlFileExists("prices.txt", &list));
    EXPECT_EQ(q.Send_73_Dir(&comm, 1), "") << "drive B: is empty";

    int32_t size = -1;
    std::string text;
    EXPECT_TRUE(q.Send_63_StartPacket(&comm, 0, dir.File("prices.txt"), size, text));
    EXPECT_EQ(size, 5000);
    EXPECT_EQ(text, "A:PRICES.TXT");
    EXPECT_EQ(q.Send_63_Upload(&comm, 0, "prices.txt", "", nullptr), -1) << "stops after the start exchange";
    EXPECT_EQ(q.Send_6A_CheckDiskFree(&comm, 0), 100000u - 1234 - 5000);
    EXPECT_EQ(q.Send_6A_CheckDiskFree(&comm, 1), 100000u);

    EXPECT_EQ(q.Send_66_Delete(&comm, 0, "prices.txt", nullptr), 0);
    EXPECT_EQ(q.Send_73_Dir(&comm, 0), "AUTOEXEC.BAT|1234|X.TXT|0");
    q.ReplyTimeout = 300;  // the terminal stays silent about a file it does not have
    EXPECT_EQ(q.Send_66_Delete(&comm, 0, "prices.txt", nullptr), -3);
    EXPECT_EQ(q.Send_63_Upload(&comm, 0, "prices.txt", "", nullptr), -3);
    EXPECT_EQ(comm.CloseComPort(7), 0);
}

#endif  // TOLM_DEVSIM
