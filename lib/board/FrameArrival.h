#pragma once

// When the frame now being handled reached the host. A packet's listeners
// may run long after that (a busy program pumps the loop late), so the
// time is carried beside the frame instead of read from the clock in the
// listener.

#include <cstdint>

namespace KORVIK {

/// The arrival of the frame whose handlers run now on this thread, in
/// microseconds of the monotonic clock (g_get_monotonic_time); 0 when the
/// source gave none.
int64_t current_frame_arrival();

/// Sets the arrival for the handlers run while it lives (nests).
class FrameArrival {
public:
    explicit FrameArrival(int64_t monotonic_us);
    ~FrameArrival();
    FrameArrival(const FrameArrival&) = delete;
    FrameArrival& operator=(const FrameArrival&) = delete;

private:
    int64_t previous;
};

/// An adapter notes the time stamp of the frame it has just handed out;
/// its reader takes it (0 once taken or when none was noted).
void note_read_arrival(int64_t monotonic_us);
int64_t take_read_arrival();

/// A wall-clock time stamp (as packet capture gives) on the monotonic clock.
int64_t monotonic_from_realtime(int64_t realtime_us);

} // namespace KORVIK
