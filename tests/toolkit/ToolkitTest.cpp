#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "toolkit/ByteBuffer.h"
#include "toolkit/Controls.h"
#include "toolkit/Event.h"
#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"
#include "toolkit/Messages.h"
#include "toolkit/Thread.h"

using namespace tolm;

TEST(ByteBuffer, RangeErrorIsNotAToolkitException) {
    TByteBuffer b{1, 2, 3};
    EXPECT_EQ(b[2], 3);
    bool caughtAsException = false, caughtAsRange = false;
    try {
        (void)b[3];
    } catch (const Exception&) {
        caughtAsException = true;
    } catch (const ERangeError&) {
        caughtAsRange = true;
    }
    EXPECT_FALSE(caughtAsException);
    EXPECT_TRUE(caughtAsRange);
    EXPECT_THROW((void)b[-1], ERangeError);
    EXPECT_THROW(b.Mid(2, 2), ERangeError);
    EXPECT_EQ(b.Mid(1, 2), (TByteBuffer{2, 3}));
}

TEST(ByteBuffer, TextRoundTripKeepsNulBytes) {
    std::string text("a\0b", 3);
    auto b = TByteBuffer::FromText(text);
    EXPECT_EQ(b.Length(), 3);
    EXPECT_EQ(b.ToText(), text);
}

TEST(Event, WaitTimesOutUnlessSet) {
    TEvent e;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.WaitFor(50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    std::thread setter([&] { e.SetEvent(); });
    EXPECT_TRUE(e.WaitFor(5000));
    setter.join();
    EXPECT_TRUE(e.WaitFor(0));  // manual reset: stays set
    e.ResetEvent();
    EXPECT_FALSE(e.WaitFor(0));
}

namespace {
class SyncThread : public TThread {
public:
    std::atomic<int> runs{0};
    std::atomic<bool> ranOnMain{true};
    std::atomic<bool> lastSyncResult{true};

protected:
    void Execute() override {
        while (!Terminated()) {
            lastSyncResult = Synchronize([this] {
                if (!IsMainThread()) ranOnMain = false;
                ++runs;
            });
            SleepFor(10);
        }
    }
};
}  // namespace

TEST(Thread, SynchronizeRunsOnMainThread) {
    SyncThread t;
    t.Start();
    ASSERT_TRUE(test::PumpUntil([&] { return t.runs >= 3; }, 5000));
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.ranOnMain);
    EXPECT_FALSE(t.Running());
}

TEST(Thread, StopWhileWaitingForMainThreadDoesNotDeadlock) {
    // The main thread does not pump events here, so the thread's synchronised
    // call can never run; stopping and joining must still return.
    SyncThread t;
    t.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    t.Terminate();
    t.WaitFor();
    EXPECT_EQ(t.runs, 0);
    EXPECT_FALSE(t.lastSyncResult);
    // The cancelled call must not run later either.
    test::Pump(50);
    EXPECT_EQ(t.runs, 0);
}

// The serial driver's case: the synchronised call itself stops and joins its
// thread. The wait ends at once, the call runs to its end, and Synchronize
// tells the thread that the call did not finish while it waited.
TEST(Thread, StopFromInsideTheSynchronisedCallEndsTheWaitNotTheCall) {
    class SelfStopping : public TThread {
    public:
        std::atomic<bool> callFinished{false};
        std::atomic<int> result{-1};

    protected:
        void Execute() override {
            result = Synchronize([this] {
                Terminate();
                WaitFor();  // the thread has left Synchronize: no deadlock
                callFinished = true;
            }) ? 1 : 0;
        }
    } t;
    t.Start();
    ASSERT_TRUE(test::PumpUntil([&] { return t.callFinished.load(); }, 5000));
    EXPECT_EQ(t.result, 0);
    EXPECT_FALSE(t.Running());
}

// A call that throws is shown and does not take the calls queued after it
// with it.
TEST(MainThread, ACallThatThrowsLeavesTheRestOfItsBatchToRun) {
    test::ScopedRecordingSink sink;
    std::vector<int> ran;
    std::thread poster([&] {
        PostToMainThread([&] { ran.push_back(1); });
        PostToMainThread([] { throw EConvertError("'x' is not a valid integer value"); });
        PostToMainThread([&] { ran.push_back(3); });
    });
    poster.join();
    ASSERT_TRUE(test::PumpUntil([&] { return ran.size() == 2; }, 2000));
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
    test::Pump(20);
    ASSERT_EQ(sink->Texts().size(), 1u);
    EXPECT_EQ(sink->Texts()[0], "'x' is not a valid integer value");
}

TEST(Messages, MessageFromWorkerThreadReachesSinkOnMainThread) {
    test::ScopedRecordingSink sink;
    std::thread worker([] { ShowMessage("Packet_Count > 1000"); });
    worker.join();  // the worker did not wait for the main thread
    EXPECT_TRUE(sink->Texts().empty());
    ASSERT_TRUE(test::PumpUntil([&] { return !sink->Texts().empty(); }, 2000));
    EXPECT_EQ(sink->Texts().front(), "Packet_Count > 1000");
    MessageBox("x", "Tolm", TMsgIcon::Information);
    EXPECT_EQ(sink->Entries().back().caption, "Tolm");
}

TEST(Controls, ObserversSeeChangesAndProgressStaysInRange) {
    TProgressBar bar("PBar");
    std::vector<TChange> seen;
    bar.AddObserver([&](TControl&, TChange c) { seen.push_back(c); });
    bar.SetMax(256);
    bar.SetPosition(300);
    EXPECT_EQ(bar.Position(), 256);
    bar.SetPosition(-4);
    EXPECT_EQ(bar.Position(), 0);
    bar.Repaint();
    EXPECT_EQ(seen.back(), TChange::Repaint);

    TComboBox list("ComList");
    list.SetCaption("ComList");
    EXPECT_EQ(list.Text(), "ComList");
    list.SetItems({"Com1", "Com2"});
    list.SetItemIndex(1);
    EXPECT_EQ(list.Text(), "Com2");
    list.SetItemIndex(5);  // ignored
    EXPECT_EQ(list.ItemIndex(), 1);
}

TEST(Controls, TimerTicksOnTheEventLoopOnlyWhileEnabled) {
    TTimer timer;
    int ticks = 0;
    timer.OnTimer = [&] {
        if (++ticks == 2) timer.SetEnabled(false);
    };
    timer.SetInterval(20);
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil([&] { return ticks >= 2; }, 2000));
    test::Pump(100);
    EXPECT_EQ(ticks, 2);
}

// A call that processes messages (an exchange's ProcessMessages) runs the
// calls queued behind it, in order and once each; the outer pass goes on
// after them without running any twice.
TEST(MainThread, NestedProcessingKeepsThePostingOrder) {
    std::vector<int> ran;
    PostToMainThread([&] {
        ran.push_back(1);
        PostToMainThread([&] { ran.push_back(4); });
        ProcessMessages();
    });
    PostToMainThread([&] { ran.push_back(2); });
    PostToMainThread([&] { ran.push_back(3); });
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
}

// The main thread sleeps on the loop, and a call posted from another thread
// wakes it at once rather than after the wait (a wide margin: 5 s against
// the 50 ms the poster takes).
TEST(MainThread, APostedCallWakesAWaitingMainThread) {
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PostToMainThread([&] { ran = true; });
    });
    const auto start = std::chrono::steady_clock::now();
    while (!ran && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) WaitMessages(5000);
    poster.join();
    EXPECT_TRUE(ran);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

// A tick that processes messages (the dock timer's transfer does) is not
// entered again from inside; and a tick may destroy its own timer.
TEST(Controls, ATimerDoesNotTickInsideItsOwnTick) {
    auto timer = std::make_unique<TTimer>();
    int depth = 0, deepest = 0, ticks = 0;
    timer->OnTimer = [&] {
        ++ticks;
        deepest = std::max(deepest, ++depth);
        test::Pump(60);  // three intervals pass inside the tick
        --depth;
        if (ticks == 2) timer.reset();
    };
    timer->SetInterval(20);
    timer->SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil([&] { return !timer; }, 5000));
    test::Pump(60);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(ticks, 2);
}
