// A client's outgoing events: a slow client loses its own oldest events,
// counted, and the board thread that pushes them never waits.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "EventQueue.h"

using korvikd::EventQueue;
using std::chrono::milliseconds;

TEST(EventQueue, AFullQueueDropsItsOldestCountsThemAndNeverBlocks)
{
    const struct {
        size_t capacity;
        int pushed;
        uint64_t dropped;
        int first_kept;
    } cases[] = {
        {4, 3, 0, 0},     // room left
        {4, 4, 0, 0},     // just full
        {4, 10, 6, 6},    // a client that read nothing
        {1, 1000, 999, 999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pushed);
        EventQueue<int> queue(c.capacity);
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < c.pushed; ++i)
            queue.push(i); // nobody reads: must not wait
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(500));
        EXPECT_EQ(c.dropped, queue.get_dropped());
        std::vector<int> got;
        for (int v; queue.pop(v, milliseconds(0));)
            got.push_back(v);
        ASSERT_EQ(size_t(c.pushed) - c.dropped, got.size());
        for (size_t k = 0; k < got.size(); ++k)
            EXPECT_EQ(c.first_kept + int(k), got[k]); // the newest, in order
    }
}

TEST(EventQueue, ClosingEndsAWaitingReaderAndRefusesMore)
{
    EventQueue<int> queue(8);
    std::thread closer([&] {
        std::this_thread::sleep_for(milliseconds(50));
        queue.close();
    });
    int v = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.pop(v, milliseconds(5000)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(4000));
    closer.join();
    EXPECT_TRUE(queue.is_closed());
    queue.push(1);
    EXPECT_FALSE(queue.pop(v, milliseconds(0)));
    EXPECT_EQ(0u, queue.get_dropped());
}
