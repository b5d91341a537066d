// The component under a flood of unsolicited data: more than the ring's 1000
// undelivered records (fake devices fed as fast as the polling passes read),
// and several ports receiving at once (pseudo-terminals written by threads).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "Fakeserialdevice.h"
#include "TestSupport.h"
#include "serial/Tolmserialcomm.h"

using namespace tolm;
using namespace tolm::test;
using namespace std::chrono;

namespace {

std::string Chunk(const char* format, int a, int b = 0) {
    char text[32];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// Hands the line one chunk at a time: the next only once a polling pass has
// read the previous, so that every chunk becomes a record of its own.
class ChunkFeeder {
public:
    ChunkFeeder(std::shared_ptr<FakeLine> line, int first, int count)
        : thread_([this, line, first, count] {
              const auto deadline = steady_clock::now() + seconds(60);
              for (int i = first; i < first + count && steady_clock::now() < deadline;) {
                  {
                      std::lock_guard lock(line->mutex);
                      if (line->input.empty()) {
                          line->input = Chunk("chunk-%04d;", i++);
                          continue;
                      }
                  }
                  std::this_thread::sleep_for(microseconds(200));
              }
              // Done once the last chunk has been read as well.
              while (steady_clock::now() < deadline) {
                  {
                      std::lock_guard lock(line->mutex);
                      if (line->input.empty()) break;
                  }
                  std::this_thread::sleep_for(microseconds(200));
              }
              done_ = true;
          }) {}
    ~ChunkFeeder() { thread_.join(); }
    bool Done() const { return done_; }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

// With all 1000 records undelivered (the main thread busy), each further
// chunk is dropped and "Packet_Count > 1000" shown once for it; the 1000
// already queued are delivered in order, and the ring takes chunks again once
// it has been drained.
TEST(ReceiveLoadTest, RingOverflowDropsTheNewestAndSaysSo) {
    ScopedRecordingSink messages;
    auto line = std::make_shared<FakeLine>();
    std::vector<std::string> received;
    {
        TTolmSerialComm comm;
        comm.SetDeviceFactory(FakeFactory(line));
        // Fixed passes read whatever waits at each pass: one chunk, one record.
        comm.SetPollingMode(TPollingMode::Sleep);
        comm.SetPassPeriodMs(1);
        comm.OnReceiveData = [&](TReceivePacket* p) { received.push_back(p->Text); };
        ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
        {
            // The main thread does not run its events meanwhile: nothing is delivered.
            ChunkFeeder feeder(line, 0, 1005);
            const auto deadline = steady_clock::now() + seconds(60);
            while (!feeder.Done() && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(5));
            ASSERT_TRUE(feeder.Done()) << "the polling passes did not read every chunk";
        }
        EXPECT_EQ(comm.Packet_Count(), 1000);
        EXPECT_TRUE(received.empty());

        ASSERT_TRUE(PumpUntil([&] { return received.size() >= 1000 && messages->Texts().size() >= 5; }, 30000));
        Pump(100);
        ASSERT_EQ(received.size(), 1000u);
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(received[static_cast<size_t>(i)], Chunk("chunk-%04d;", i));
        EXPECT_EQ(messages->Texts(), std::vector<std::string>(5, "Packet_Count > 1000"));
        EXPECT_EQ(comm.Packet_Count(), 0);

        // Drained, the ring takes the next chunk again.
        { ChunkFeeder again(line, 2000, 1); }
        ASSERT_TRUE(PumpUntil([&] { return received.size() == 1001; }, 10000));
        EXPECT_EQ(received.back(), "chunk-2000;");
        EXPECT_EQ(comm.CloseComPort(1), 0);
        EXPECT_FALSE(comm.PollingThreadsRunning());
    }
}

// Six ports of one component receive numbered chunks from six writers at
// once: every port's bytes arrive whole and in order, tagged with their port.
TEST(ReceiveLoadTest, SeveralPortsReceivingAtOnceKeepEachPortsOrder) {
    constexpr int kPorts = 6;
    constexpr int kChunks = 300;
    TempDir dir;
    ScopedRecordingSink messages;
    std::vector<std::unique_ptr<PtyPair>> lines;
    for (int p = 1; p <= kPorts; ++p) {
        lines.push_back(std::make_unique<PtyPair>());
        LinkPort(dir, p, lines.back()->SlavePath());
    }
    std::map<int, std::string> received, expected;
    TTolmSerialComm comm;
    comm.OnReceiveData = [&](TReceivePacket* p) { received[p->ComPort] += p->Text; };
    for (int p = 1; p <= kPorts; ++p) ASSERT_EQ(comm.OpenComPort(p, "115200,n,8,1"), 0);

    std::vector<std::thread> writers;
    for (int p = 1; p <= kPorts; ++p) {
        for (int i = 0; i < kChunks; ++i) expected[p] += Chunk("P%d-%04d;", p, i);
        writers.emplace_back([&, p] {
            for (int i = 0; i < kChunks; ++i) {
                lines[static_cast<size_t>(p - 1)]->Write(Chunk("P%d-%04d;", p, i));
                std::this_thread::sleep_for(microseconds(i % 3 == 0 ? 3000 : 300));
            }
        });
    }
    for (auto& w : writers) w.join();
    const bool all = PumpUntil(
        [&] {
            for (int p = 1; p <= kPorts; ++p)
                if (received[p].size() < expected[p].size()) return false;
            return true;
        },
        60000);
    for (int p = 1; p <= kPorts; ++p)
        EXPECT_TRUE(received[p] == expected[p]) << "port " << p << ": " << received[p].size() << " of "
                                                << expected[p].size() << " bytes, or out of order";
    EXPECT_TRUE(all);
    EXPECT_TRUE(messages->Texts().empty());
    for (int p = 1; p <= kPorts; ++p) EXPECT_EQ(comm.CloseComPort(p), 0);
    EXPECT_FALSE(comm.PollingThreadsRunning());
}
