#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace korvikd {

/// One client's events on their way out: bounded, so a slow client loses
/// its own oldest events (counted) and never holds up the board thread or
/// other clients.
template <typename T>
class EventQueue {
public:
    explicit EventQueue(size_t capacity) : capacity(capacity) {}

    /// Never blocks; a full queue drops its oldest event and counts it.
    void push(const T& event)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (closed)
                return;
            if (events.size() >= capacity) {
                events.pop_front();
                ++dropped;
            }
            events.push_back(event);
        }
        ready.notify_one();
    }

    /// Waits up to `timeout` for an event; false on timeout or once closed.
    bool pop(T& out, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait_for(lock, timeout, [this] { return closed || !events.empty(); });
        if (closed || events.empty())
            return false;
        out = std::move(events.front());
        events.pop_front();
        return true;
    }

    void close()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closed = true;
        }
        ready.notify_all();
    }

    bool is_closed() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return closed;
    }

    uint64_t get_dropped() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return dropped;
    }

private:
    mutable std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> events;
    size_t capacity;
    uint64_t dropped = 0;
    bool closed = false;
};

} // namespace korvikd
