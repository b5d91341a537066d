// The multi-port component over fake devices, for what a pseudo-terminal
// cannot show or cannot show deterministically: bytes that arrived just
// before an exchange, more bytes waiting than a pty holds, line errors, modem
// lines, two ports at once, and handlers that misbehave.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "Fakeserialdevice.h"
#include "TestSupport.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Exception.h"

using namespace tolm;
using namespace tolm::test;
using namespace std::chrono;

namespace {

TByteBuffer Bytes(const std::string& s) { return TByteBuffer::FromText(s); }

struct FakeFixture : ::testing::Test {
    std::map<int, std::shared_ptr<FakeLine>> lines;
    ScopedRecordingSink messages;
    TTolmSerialComm comm;
    std::vector<TReceivePacket> received;

    void SetUp() override {
        for (int port : {1, 2}) lines[port] = std::make_shared<FakeLine>();
        comm.SetDeviceFactory([this](int port) -> std::unique_ptr<ISerialDevice> {
            auto it = lines.find(port);
            if (it == lines.end()) return nullptr;
            return std::make_unique<FakeSerialDevice>(it->second);
        });
        comm.OnReceiveData = [this](TReceivePacket* p) { received.push_back(*p); };
    }
    FakeLine& Line(int port) { return *lines.at(port); }

    // Runs fn on a helper thread once the port's input has been purged (the
    // exchange under test has started).
    std::thread AfterPurge(int port, std::function<void()> fn) {
        auto line = lines.at(port);
        size_t before;
        {
            std::lock_guard lock(line->mutex);
            before = line->purges.size();
        }
        return std::thread([line, before, fn] {
            auto end = steady_clock::now() + seconds(10);
            while (steady_clock::now() < end) {
                {
                    std::lock_guard lock(line->mutex);
                    if (line->purges.size() > before) break;
                }
                std::this_thread::sleep_for(milliseconds(2));
            }
            fn();
        });
    }
};

}  // namespace

TEST_F(FakeFixture, SendByteReceiveByteDiscardsWhatWaitedBeforeTheRequest) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    {
        std::lock_guard lock(Line(1).mutex);
        Line(1).input = "stale";
        Line(1).hideInputUntilWrite = true;  // arrived too late for a polling pass
        Line(1).replyOnWrite = "ACK";
    }
    EXPECT_EQ(comm.SendByteReceiveByte(1, Bytes("REQ"), 3000), Bytes("ACK"));
    EXPECT_EQ(Line(1).Written(), "REQ");
}

TEST_F(FakeFixture, SendByteReceiveStringKeepsWhatWaitedBeforeTheRequest) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    {
        std::lock_guard lock(Line(1).mutex);
        Line(1).input = std::string("st\0le", 5);
        Line(1).hideInputUntilWrite = true;
        Line(1).replyOnWrite = "ACK";
    }
    EXPECT_EQ(comm.SendByteReceiveString(1, Bytes("REQ"), 3000), std::string("st\0leACK", 8));
}

TEST_F(FakeFixture, TextAndByteVariantsSendAndReturnTheSameBytes) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    Line(1).replyOnWrite = "one";
    EXPECT_EQ(comm.SendStringReceiveByte(1, "a", 3000), Bytes("one"));
    Line(1).replyOnWrite = "two";
    EXPECT_EQ(comm.SendStringReceiveString(1, "b", 3000), "two");
    EXPECT_EQ(Line(1).Written(), "ab");
}

TEST_F(FakeFixture, ReadSettingsVariantAppliesTheSettingsBeforeReading) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    Line(1).replyOnWrite = "slow";
    EXPECT_EQ(comm.SendByteReceiveByte_SetReadSettings(1, Bytes("go"), 2000, "9600,n,8,1"), Bytes("slow"));
    std::lock_guard lock(Line(1).mutex);
    EXPECT_EQ(Line(1).line->BaudRate, 9600);
    EXPECT_EQ(Line(1).purges.size(), 1u);  // only the purge at open
}

TEST_F(FakeFixture, FullInputQueueIsReadWholeAndOneByteMoreIsPurged) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    std::string full(5120, 'z');
    full[100] = '\0';
    auto feeder = AfterPurge(1, [&] { Line(1).Feed(full); });
    EXPECT_EQ(comm.ReceiveByte(1, 5000), Bytes(full));
    feeder.join();

    feeder = AfterPurge(1, [&] { Line(1).Feed(full + "+"); });
    EXPECT_TRUE(comm.ReceiveByte(1, 5000).IsEmpty());
    feeder.join();
    std::lock_guard lock(Line(1).mutex);
    EXPECT_TRUE(Line(1).input.empty());
    EXPECT_EQ(Line(1).purges.back(), uint32_t(PURGE_RXCLEAR));
}

TEST_F(FakeFixture, OverflowWhileNoOneWaitsDeliversNothing) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    Line(1).Feed(std::string(5121, 'q'));
    ASSERT_TRUE(PumpUntil([&] { return Line(1).Written().empty() && [&] {
        std::lock_guard lock(Line(1).mutex);
        return Line(1).input.empty();
    }(); }, 5000));
    Pump(300);
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(comm.Packet_Count(), 0);
}

TEST_F(FakeFixture, ReplyWatchWakesOnlyForThePortWaitedOn) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    ASSERT_EQ(comm.OpenComPort(2, "115200,n,8,1"), 0);
    // While port 1 waits, port 2 receives unsolicited data; port 1's answer
    // comes later. The exchange on port 1 must still get port 1's answer.
    auto feeder = AfterPurge(1, [&] {
        Line(2).Feed("noise on port 2");
        std::this_thread::sleep_for(milliseconds(400));
        Line(1).Feed("answer");
    });
    EXPECT_EQ(comm.ReceiveByte(1, 5000), Bytes("answer"));
    feeder.join();
    EXPECT_TRUE(PumpUntil([&] { return !received.empty(); }, 5000));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].ComPort, 2);
    EXPECT_EQ(received[0].Text, "noise on port 2");
}

TEST_F(FakeFixture, LineErrorsAndModemLines) {
    std::atomic<uint32_t> lastMask{0};
    std::atomic<bool> senderIsComponent{false};
    comm.OnReceiveError = [&](TTolmSerialComm* sender, uint32_t mask) {
        senderIsComponent = sender == &comm;
        lastMask = mask;
    };
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    {
        std::lock_guard lock(Line(1).mutex);
        Line(1).pendingErrors = CE_FRAME | CE_RXPARITY;
        Line(1).modemBits = MS_CTS_ON;
    }
    auto end = steady_clock::now() + seconds(5);
    while (lastMask == 0 && steady_clock::now() < end) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(lastMask.load(), uint32_t(CE_FRAME | CE_RXPARITY));
    EXPECT_TRUE(senderIsComponent);

    EXPECT_TRUE(comm.GetRs232Info(1, "CTS"));
    EXPECT_FALSE(comm.GetRs232Info(1, "DSR"));
    comm.SetRs232Info(1, "CLRRTS");
    comm.SetRs232Info(1, "clrrts");
    std::lock_guard lock(Line(1).mutex);
    EXPECT_EQ(Line(1).actions, std::vector<TLineAction>{TLineAction::ClrRts});
}

TEST_F(FakeFixture, RtsCtsOfTheComponentGoesToEachNewDriver) {
    comm.SetRTS_CTS(true);
    comm.SetSettings("38400,n,8,1");
    EXPECT_TRUE(comm.RTS_CTS());
    EXPECT_EQ(comm.Settings(), "38400,n,8,1");
    ASSERT_EQ(comm.OpenComPort(1, "9600,n,8,1"), 0);
    std::lock_guard lock(Line(1).mutex);
    EXPECT_TRUE(Line(1).rtsCts);
    EXPECT_EQ(Line(1).line->BaudRate, 9600);  // the open's own settings, not the component's
}

TEST_F(FakeFixture, FailuresOfTheDevice) {
    Line(1).openSucceeds = false;
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 2);
    EXPECT_EQ(comm.OpenComPort(1, "115200,n,8,1"), -2);
    Line(1).openSucceeds = true;
    Line(1).queueSizesAccepted = false;
    EXPECT_EQ(comm.OpenComPort(1, "115200,n,8,1"), -2);
    EXPECT_FALSE(comm.HasDriver(1));
    EXPECT_FALSE(comm.PollingThreadsRunning());

    Line(1).queueSizesAccepted = true;
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    Line(1).writeFails = true;
    EXPECT_EQ(comm.SendByte(1, Bytes("x")), -3);
    EXPECT_TRUE(comm.SendByteReceiveByte(1, Bytes("x"), 5000).IsEmpty());  // no wait after a failed send
    EXPECT_THROW(comm.SendByte(1, Bytes("xy"), 3), ERangeError);
    Line(1).writeFails = false;
    EXPECT_EQ(comm.SendByte(1, Bytes("xyz"), 2), 0);
    EXPECT_EQ(Line(1).Written(), "xy");
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(FakeFixture, HandlerExceptionsAreShownAndDeliveryGoesOn) {
    int calls = 0;
    comm.OnReceiveData = [&](TReceivePacket* p) {
        ++calls;
        received.push_back(*p);
        if (calls == 1) throw EConvertError("'zz' is not a valid number");
    };
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    Line(1).Feed("one");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }, 5000));
    Line(1).Feed("two");
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }, 5000));
    EXPECT_EQ(received.back().Text, "two");
    EXPECT_EQ(messages->Texts(), std::vector<std::string>{"'zz' is not a valid number"});
}

TEST_F(FakeFixture, HandlerMayExchangeAndCloseThePort) {
    // As the upgrade that a terminal's announcement starts: the handler runs
    // exchanges and closes the port, all inside the delivery pass.
    TByteBuffer reply;
    bool done = false;
    comm.OnReceiveData = [&](TReceivePacket* p) {
        if (p->Text != "HELLO") return;
        Line(1).replyOnWrite = "ACK";
        reply = comm.SendByteReceiveByte(1, Bytes("START"), 3000);
        EXPECT_EQ(comm.CloseComPort(1), 0);
        done = true;
    };
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    Line(1).Feed("HELLO");
    ASSERT_TRUE(PumpUntil([&] { return done; }, 5000));
    EXPECT_EQ(reply, Bytes("ACK"));
    EXPECT_FALSE(comm.PollingThreadsRunning());
    EXPECT_FALSE(comm.HasDriver(1));
    Pump(200);
}

TEST_F(FakeFixture, ExchangesOnPortsWithoutDriver) {
    auto start = steady_clock::now();
    EXPECT_TRUE(comm.SendByteReceiveByte(7, Bytes("x"), 5000).IsEmpty());  // the send fails: no wait
    EXPECT_LT(steady_clock::now() - start, seconds(4));
    EXPECT_TRUE(comm.ReceiveByte(7, 100).IsEmpty());
    comm.ClearBuffer(7);
    EXPECT_EQ(comm.ComSettings(7, "9600,n,8,1"), 1);
    EXPECT_TRUE(messages->Texts().empty());
}
