#include "board/FrameTap.h"

#include <atomic>

namespace KORVIK {

namespace {

std::atomic<FrameTapFunction> current_tap{nullptr};

} // namespace

void set_frame_tap(FrameTapFunction tap)
{
    current_tap.store(tap);
}

bool is_frame_tap_set()
{
    return current_tap.load(std::memory_order_relaxed) != nullptr;
}

void tap_frame(const std::string& interface, const uint8_t* frame, unsigned len)
{
    if (FrameTapFunction tap = current_tap.load(std::memory_order_acquire))
        tap(interface, frame, len);
}

} // namespace KORVIK
