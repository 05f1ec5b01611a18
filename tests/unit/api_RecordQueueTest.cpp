#include "api/RecordQueue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>

#include "tidewire_records.h"

namespace tidewire {
namespace {

struct Numbered {
    int32_t value;
    char padding[12];
};

Numbered Make(int32_t value) {
    Numbered record{};
    record.value = value;
    return record;
}

// A queue is checked against std::deque under a pattern of pushes and pops that makes its
// ring wrap around before it has to grow, which is where order is easiest to lose.
TEST(RecordQueueTest, KeepsFirstInFirstOutAcrossWrapsAndGrowth) {
    RecordQueue<Numbered> queue;
    std::deque<int32_t> model;
    int32_t next = 0;
    for (int round = 0; round < 200; ++round) {
        const int pushes = (round * 7) % 23 + 1;
        const int pops = (round * 5) % 19;
        for (int i = 0; i < pushes; ++i) {
            queue.push_back(Make(next));
            model.push_back(next++);
        }
        for (int i = 0; i < pops && !model.empty(); ++i) {
            ASSERT_EQ(queue.front().value, model.front());
            queue.pop_front();
            model.pop_front();
        }
        ASSERT_EQ(queue.size(), model.size());
    }
    while (!model.empty()) {
        ASSERT_EQ(queue.front().value, model.front());
        queue.pop_front();
        model.pop_front();
    }
    EXPECT_TRUE(queue.empty());
}

TEST(RecordQueueTest, ReservedRoomTakesPushesWithoutMovingTheRing) {
    RecordQueue<OutgoingMessage> queue;
    queue.reserve(100);
    const size_t room = queue.capacity();
    ASSERT_GE(room, 100u);
    OutgoingMessage record{};
    for (int32_t id = 0; id < 100; ++id) {
        record.id = id;
        queue.push_back(record);
    }
    EXPECT_EQ(queue.capacity(), room);
    // Reserving less than the room, or the size it already holds, changes nothing.
    queue.reserve(10);
    EXPECT_EQ(queue.capacity(), room);
    queue.pop_back();
    EXPECT_EQ(queue.size(), 99u);
    EXPECT_EQ(queue.front().id, 0);
}

TEST(RecordQueueTest, ClearKeepsTheRoomAndResetGivesItBack) {
    RecordQueue<Numbered> queue;
    for (int32_t i = 0; i < 5000; ++i) {
        queue.push_back(Make(i));
    }
    const size_t grown = queue.capacity();
    queue.clear();
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.capacity(), grown);
    queue.push_back(Make(7));
    EXPECT_EQ(queue.front().value, 7);

    queue.Reset(64);
    EXPECT_TRUE(queue.empty());
    EXPECT_GE(queue.capacity(), 64u);
    EXPECT_LT(queue.capacity(), grown);
}

TEST(ResultTableTest, IdsArePendingUntilRecordedAndUnknownIdsStayPending) {
    ResultTable table;
    table.Add(0);
    table.Add(1);
    table.Add(2);
    EXPECT_EQ(table.Get(1), -1);
    table.Record(1, true);
    table.Record(2, false);
    EXPECT_EQ(table.Get(0), -1);
    EXPECT_EQ(table.Get(1), 1);
    EXPECT_EQ(table.Get(2), 0);
    for (const int32_t id : {-1, 3, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(table.Get(id), -1) << id;
        table.Record(id, true);  // never issued: ignored, nothing written out of bounds
    }
    EXPECT_EQ(table.size(), 3u);
    // An id ahead of the table makes the slots before it too.
    table.Add(9);
    EXPECT_EQ(table.size(), 10u);
    EXPECT_EQ(table.Get(5), -1);
    table.Reset();
    EXPECT_EQ(table.Get(1), -1);
}

}  // namespace
}  // namespace tidewire
