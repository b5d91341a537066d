// The ring of undelivered records: order, sequence numbers, and what happens
// when it is full.
#include <gtest/gtest.h>

#include "serial/Receivequeue.h"

using namespace tolm;

namespace {
TReceivePacket Chunk(int n) {
    TReceivePacket p;
    p.ComPort = 1;
    p.Settings = "115200,n,8,1";
    p.Text = "chunk" + std::to_string(n);
    p.Bytes = TByteBuffer::FromText(p.Text);
    p.Length = static_cast<int32_t>(p.Text.size());
    p.Sequence = -5;  // ignored: the queue numbers its records itself
    return p;
}
}  // namespace

TEST(ReceiveQueue, DeliversInOrderNumberedByWhatWaitedBefore) {
    TReceiveQueue q;
    EXPECT_FALSE(q.Take().has_value());
    ASSERT_TRUE(q.Push(Chunk(0)));
    ASSERT_TRUE(q.Push(Chunk(1)));
    EXPECT_EQ(q.Count(), 2);
    auto a = q.Take();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Text, "chunk0");
    EXPECT_EQ(a->Sequence, 0);
    EXPECT_EQ(a->Bytes, TByteBuffer::FromText("chunk0"));
    ASSERT_TRUE(q.Push(Chunk(2)));
    auto b = q.Take();
    auto c = q.Take();
    ASSERT_TRUE(b && c);
    EXPECT_EQ(b->Sequence, 1);
    EXPECT_EQ(c->Text, "chunk2");
    EXPECT_EQ(c->Sequence, 1);  // one record (chunk1) was undelivered when it came
    EXPECT_EQ(q.Count(), 0);
}

TEST(ReceiveQueue, FullRingDropsTheNewestAndNeverHandsARecordOutTwice) {
    TReceiveQueue q;
    // Start part-way round so that the full ring wraps.
    for (int i = 0; i < 700; ++i) q.Push(Chunk(-1));
    for (int i = 0; i < 700; ++i) q.Take();

    for (int i = 0; i < TReceiveQueue::kCapacity; ++i) ASSERT_TRUE(q.Push(Chunk(i)));
    EXPECT_FALSE(q.Push(Chunk(1000)));
    EXPECT_FALSE(q.Push(Chunk(1001)));
    EXPECT_EQ(q.Count(), TReceiveQueue::kCapacity);

    auto first = q.Take();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Text, "chunk0");
    ASSERT_TRUE(q.Push(Chunk(2000)));  // room again for one

    std::vector<std::string> rest;
    while (auto r = q.Take()) rest.push_back(r->Text);
    ASSERT_EQ(rest.size(), 1000u);
    for (int i = 1; i < 1000; ++i) EXPECT_EQ(rest[static_cast<size_t>(i - 1)], "chunk" + std::to_string(i));
    EXPECT_EQ(rest.back(), "chunk2000");
}
