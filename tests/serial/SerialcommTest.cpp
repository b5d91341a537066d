// The single-port driver over a fake device: the opening sequence and its
// failures, settings and line control, reads, writes, and the receive poll.
#include <gtest/gtest.h>

#include "Fakeserialdevice.h"
#include "TestSupport.h"
#include "platform/Portmap.h"
#include "serial/Serialcomm.h"
#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"

using namespace tolm;
using namespace tolm::test;

namespace {

const std::string kNotOpen = "COM Port is not opened yet!";

struct DriverFixture : ::testing::Test {
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    FakeClock clock;
    TSerialComm comm{"TolmSerialCommPort3", FakeFactory(line), &clock};
    ScopedRecordingSink messages;

    std::string Text(const TReceivePacket& p) { return p.Text; }
};

TByteBuffer Bytes(const std::string& s) { return TByteBuffer::FromText(s); }

}  // namespace

TEST_F(DriverFixture, OpenConfiguresThePortInOrder) {
    ASSERT_EQ(comm.OpenPort(3), 0);
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(comm.ReadComPort(), 3);
    EXPECT_EQ(line->openedPath, PortMap::DevicePath(3));
    EXPECT_EQ(line->queueIn, 5120u);
    EXPECT_EQ(line->queueOut, 5120u);
    ASSERT_EQ(line->purges.size(), 1u);
    EXPECT_EQ(line->purges[0], 15u);
    ASSERT_TRUE(line->line.has_value());
    EXPECT_EQ(*line->line, (TLineSettings{115200, TParity::None, 8, TStopBits::One}));
    EXPECT_FALSE(line->rtsCts);
    EXPECT_EQ(line->timeouts.ReadIntervalTimeout, 100u);
    EXPECT_EQ(line->timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(line->timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(line->timeouts.WriteTotalTimeoutMultiplier, 5u);
    EXPECT_EQ(line->timeouts.WriteTotalTimeoutConstant, 500u);
    EXPECT_TRUE(comm.ReceiveThreadRunning());
    comm.ClosePort();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(line->open);
    EXPECT_FALSE(comm.ReceiveThreadRunning());
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(DriverFixture, OpenFailures) {
    line->openSucceeds = false;
    EXPECT_EQ(comm.OpenPort(7), -1);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(comm.ReceiveThreadRunning());

    line->openSucceeds = true;
    line->queueSizesAccepted = false;
    EXPECT_EQ(comm.OpenPort(7), -2);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(line->open);

    line->queueSizesAccepted = true;
    comm.SetSettings("115200,n,8");
    EXPECT_EQ(comm.OpenPort(7), -1);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(line->open);
    EXPECT_FALSE(comm.ReceiveThreadRunning());
}

TEST_F(DriverFixture, SettingsApplyAtOnceOnAnOpenPortAndBadOnesCloseIt) {
    comm.SetSettings("9600,e,7,2");  // closed: stored only
    EXPECT_EQ(line->lineStateCalls, 0);
    ASSERT_EQ(comm.OpenPort(1), 0);
    EXPECT_EQ(*line->line, (TLineSettings{9600, TParity::Even, 7, TStopBits::Two}));

    comm.SetSettings("9600,n,8,1");
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(line->line->Parity, TParity::None);
    EXPECT_EQ(line->purges.size(), 1u);  // no purge on a settings change

    // Switching the handshake re-applies the whole settings string.
    comm.SetRTS_CTS(true);
    EXPECT_TRUE(line->rtsCts);
    EXPECT_EQ(line->line->BaudRate, 9600);

    comm.SetSettings("fast please");
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(line->open);
    EXPECT_EQ(comm._SetCommState(), -1);
    // Every later operation behaves as on a closed port.
    EXPECT_FALSE(comm.OutputByte(Bytes("x")));
    EXPECT_EQ(messages->Texts(), std::vector<std::string>{kNotOpen});
}

TEST_F(DriverFixture, LineActionsByExactKeyword) {
    comm.SetRs232Info("SETDTR");  // closed: nothing, no message
    EXPECT_TRUE(line->actions.empty());
    ASSERT_EQ(comm.OpenPort(1), 0);
    for (auto k : {"SETXOFF", "SETXON", "SETRTS", "CLRRTS", "SETDTR", "CLRDTR", "SETBREAK", "CLRBREAK"})
        comm.SetRs232Info(k);
    std::vector<TLineAction> expected = {TLineAction::SetXoff, TLineAction::SetXon,   TLineAction::SetRts,
                                         TLineAction::ClrRts,  TLineAction::SetDtr,   TLineAction::ClrDtr,
                                         TLineAction::SetBreak, TLineAction::ClrBreak};
    EXPECT_EQ(line->actions, expected);
    for (auto k : {"setdtr", "SETDTR ", "", "SET", "DTR"}) comm.SetRs232Info(k);
    EXPECT_EQ(line->actions.size(), expected.size());
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(DriverFixture, ModemLinesByName) {
    line->modemBits = MS_CTS_ON;
    EXPECT_FALSE(comm.GetRs232Info("CTS"));  // closed
    ASSERT_EQ(comm.OpenPort(1), 0);
    EXPECT_TRUE(comm.GetRs232Info("CTS"));
    EXPECT_FALSE(comm.GetRs232Info("DSR"));
    EXPECT_FALSE(comm.GetRs232Info("cts"));
    line->modemBits = MS_DSR_ON | MS_RING_ON | MS_RLSD_ON;
    EXPECT_TRUE(comm.GetRs232Info("DSR"));
    EXPECT_TRUE(comm.GetRs232Info("RI"));
    EXPECT_TRUE(comm.GetRs232Info("CD"));
    EXPECT_FALSE(comm.GetRs232Info("CTS"));
    EXPECT_FALSE(comm.GetRs232Info("DTR"));
    // A line whose modem status cannot be read (a pty) reads as off.
    line->modemReadable = false;
    EXPECT_FALSE(comm.GetRs232Info("DSR"));
}

TEST_F(DriverFixture, ReadsTakeExactlyWhatWaitsNulBytesIncluded) {
    ASSERT_EQ(comm.OpenPort(2), 0);
    comm.ReadReceivePacket();
    EXPECT_EQ(comm.ReceivePacket().Length, 0);
    EXPECT_TRUE(comm.ReceivePacket().Bytes.IsEmpty());
    EXPECT_TRUE(comm.ReceivePacket().Text.empty());

    std::string withNuls("\x7e\x00\x01\x00\x7e", 5);
    line->Feed(withNuls);
    EXPECT_EQ(comm.ReadInDataCount(), 5u);
    comm.ReadReceivePacket();
    const auto& p = comm.ReceivePacket();
    EXPECT_EQ(p.ComPort, 2);
    EXPECT_EQ(p.Settings, "115200,n,8,1");
    EXPECT_EQ(p.Text, withNuls);
    EXPECT_EQ(p.Length, 5);
    EXPECT_EQ(p.Bytes, Bytes(withNuls));
    EXPECT_EQ(comm.ReadInDataCount(), 0u);

    line->Feed("abc");
    EXPECT_EQ(comm.ReadInputData(), "abc");
    line->Feed("de");
    EXPECT_EQ(comm.ReadInputByte(), Bytes("de"));
    EXPECT_EQ(comm.Input(), "");
}

TEST_F(DriverFixture, FullQueueIsReadWholeAndOverflowIsPurged) {
    ASSERT_EQ(comm.OpenPort(1), 0);
    std::string full(5120, '\0');
    for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<char>(i * 7);
    line->Feed(full);
    comm.ReadReceivePacket();
    EXPECT_EQ(comm.ReceivePacket().Length, 5120);
    EXPECT_EQ(comm.ReceivePacket().Text, full);

    line->Feed(full + "!");
    comm.ReadReceivePacket();
    // More than the queue size: the input is emptied and nothing delivered,
    // in particular not the previous read's data again.
    EXPECT_EQ(comm.ReceivePacket().Length, 0);
    EXPECT_TRUE(comm.ReceivePacket().Bytes.IsEmpty());
    EXPECT_EQ(line->purges.back(), uint32_t(PURGE_RXCLEAR));
    EXPECT_EQ(comm.ReadInDataCount(), 0u);
}

TEST_F(DriverFixture, FailedReadDeliversNothingRatherThanStaleData) {
    ASSERT_EQ(comm.OpenPort(1), 0);
    line->Feed("first");
    comm.ReadReceivePacket();
    ASSERT_EQ(comm.ReceivePacket().Text, "first");
    line->Feed("second");
    line->readFails = true;
    comm.ReadReceivePacket();
    EXPECT_EQ(comm.ReceivePacket().Length, 0);
    EXPECT_TRUE(comm.ReceivePacket().Text.empty());
    EXPECT_TRUE(comm.ReadInputData().empty());
}

TEST_F(DriverFixture, StatusQueryKeepsTheErrorMask) {
    ASSERT_EQ(comm.OpenPort(1), 0);
    line->pendingErrors = CE_FRAME | CE_OVERRUN;
    EXPECT_EQ(comm.ReadInDataCount(), 0u);  // the count query does not touch the error word
    EXPECT_EQ(comm.ErrorWord(), 0u);
    line->pendingErrors = CE_RXPARITY;
    comm.QueryStatus();
    EXPECT_EQ(comm.ErrorWord(), uint32_t(CE_RXPARITY));
    comm.QueryStatus();
    EXPECT_EQ(comm.ErrorWord(), 0u);
}

TEST_F(DriverFixture, SetInDataCountEmptiesOnlyOnZero) {
    ASSERT_EQ(comm.OpenPort(1), 0);
    line->Feed("junk");
    comm.SetInDataCount(5);
    EXPECT_EQ(comm.ReadInDataCount(), 4u);
    comm.SetInDataCount(0);
    EXPECT_EQ(comm.ReadInDataCount(), 0u);
}

TEST_F(DriverFixture, WritesSucceedOnlyWhenEveryByteLeftInTime) {
    ASSERT_EQ(comm.OpenPort(1), 0);
    EXPECT_TRUE(comm.OutputString(std::string("AT\0Z", 4)));
    EXPECT_TRUE(comm.OutputByte(TByteBuffer{1, 2, 3}));
    EXPECT_TRUE(comm.OutputByte(TByteBuffer{4, 5, 6}, 2));
    EXPECT_EQ(line->Written(), std::string("AT\0Z\x01\x02\x03\x04\x05", 9));

    // A count beyond the buffer fails before anything is written.
    EXPECT_THROW(comm.OutputByte(TByteBuffer{7, 8}, 3), ERangeError);
    EXPECT_EQ(line->Written().size(), 9u);

    // A write cut short by its time-out fails, whichever way it was sent.
    line->clock = &clock;
    line->drainAt = IClock::time_point::max();
    EXPECT_FALSE(comm.OutputString("hello"));
    EXPECT_FALSE(comm.OutputByte(Bytes("hello")));
    line->drainAt = {};
    line->writeFails = true;
    EXPECT_FALSE(comm.OutputByte(Bytes("x")));
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(DriverFixture, ClosedPortOperations) {
    comm.ClosePort();  // never opened: nothing happens, nothing shown
    EXPECT_TRUE(messages->Texts().empty());
    EXPECT_FALSE(comm.OutputString("a"));
    EXPECT_FALSE(comm.OutputByte(Bytes("a")));
    comm.ReadReceivePacket();
    EXPECT_EQ(comm.ReceivePacket().Length, 0);
    EXPECT_EQ(comm.ReadInputData(), "");
    EXPECT_EQ(comm.ReadInDataCount(), 0u);
    EXPECT_EQ(messages->Texts(), std::vector<std::string>(4, kNotOpen));
}

TEST_F(DriverFixture, ReceivePollRaisesEventsOnTheMainThreadEveryPass) {
    std::atomic<int> dataEvents{0};
    std::vector<uint32_t> errorMasks;
    bool allOnMain = true;
    comm.OnReceiveData = [&](TSerialComm* sender) {
        allOnMain = allOnMain && IsMainThread() && sender == &comm;
        ++dataEvents;  // does not read: raised again on the next pass
    };
    comm.OnReceiveError = [&](TSerialComm*, uint32_t mask) { errorMasks.push_back(mask); };
    ASSERT_EQ(comm.OpenPort(1), 0);
    Pump(250);
    EXPECT_EQ(dataEvents, 0);

    line->Feed("waiting");
    EXPECT_TRUE(PumpUntil([&] { return dataEvents >= 3; }, 5000));
    line->pendingErrors = CE_BREAK;
    EXPECT_TRUE(PumpUntil([&] { return !errorMasks.empty(); }, 5000));
    EXPECT_EQ(errorMasks.front(), uint32_t(CE_BREAK));
    EXPECT_TRUE(allOnMain);

    // A handler's toolkit exception is dropped and the poll goes on.
    int before = dataEvents;
    comm.OnReceiveData = [&](TSerialComm*) {
        ++dataEvents;
        throw EConvertError("bad data");
    };
    EXPECT_TRUE(PumpUntil([&] { return dataEvents >= before + 2; }, 5000));
    comm.ClosePort();
    EXPECT_FALSE(comm.ReceiveThreadRunning());
}

TEST_F(DriverFixture, ClosingFromInsideTheReceiveEventDoesNotDeadlock) {
    bool closed = false;
    comm.OnReceiveData = [&](TSerialComm* sender) {
        sender->ClosePort();
        closed = true;
    };
    ASSERT_EQ(comm.OpenPort(1), 0);
    line->Feed("x");
    EXPECT_TRUE(PumpUntil([&] { return closed; }, 5000));
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(comm.ReceiveThreadRunning());
}
