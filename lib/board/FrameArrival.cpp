#include "board/FrameArrival.h"

#include <glib.h>

namespace KORVIK {

namespace {
// per thread: each board's frames are read and handled on one thread
thread_local int64_t handling = 0;
thread_local int64_t last_read = 0;
} // namespace

int64_t current_frame_arrival()
{
    return handling;
}

FrameArrival::FrameArrival(int64_t monotonic_us) : previous(handling)
{
    handling = monotonic_us;
}

FrameArrival::~FrameArrival()
{
    handling = previous;
}

void note_read_arrival(int64_t monotonic_us)
{
    last_read = monotonic_us;
}

int64_t take_read_arrival()
{
    const int64_t t = last_read;
    last_read = 0;
    return t;
}

int64_t monotonic_from_realtime(int64_t realtime_us)
{
    const int64_t mono = g_get_monotonic_time();
    const int64_t age = g_get_real_time() - realtime_us;
    // a stamp from the future (the wall clock stepped back) is taken as now;
    // one older than a minute cannot be the frame just read
    if (age < 0 || age > 60 * G_USEC_PER_SEC)
        return mono;
    return mono - age;
}

} // namespace KORVIK
