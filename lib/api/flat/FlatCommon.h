#pragma once

// Shared pieces of the flat interface: the handle record, the one exception
// guard every libkorvik_ function runs in, and the conversions to C types.

#include <cstdlib>
#include <exception>
#include <list>
#include <string>
#include <type_traits>

#include <sigc++/connection.h>

#include <korvik/ChangeList.h>
#include <korvik/USBDevice.h>
#include <korvik/korvik.h>

namespace KORVIK {
namespace flat {

// one connection slot in the handle per callback kind
enum Slot : unsigned {
#define KORVIK_FLAT_SLOT(name) SLOT_##name,
    KORVIK_CHANGES(KORVIK_FLAT_SLOT)
#undef KORVIK_FLAT_SLOT
    SLOT_register,
    SLOT_bitfield,
    SLOT_receive, // shared by both receive-packet kinds
    SLOT_transmit,
    SLOT_status,
    SLOT_autoranging,
    SLOT_COUNT // sizes the handle's array: a notification added to the list gets its slot
};

/// Writes the diagnostic line for the exception being handled.
void report_current_exception() noexcept;

/// The one exception guard: runs f, and on any exception writes the
/// diagnostic line and returns `error` instead.
template <typename R, typename F>
R guard(R error, F&& f) noexcept
{
    try {
        return f();
    } catch (...) {
        report_current_exception();
    }
    return error;
}

template <typename F>
void guard_void(F&& f) noexcept
{
    try {
        f();
    } catch (...) {
        report_current_exception();
    }
}

/// Counts flat callbacks in progress, so that a close from inside one can be
/// deferred until the emitting code has finished with the board.
class CallbackScope {
public:
    CallbackScope() noexcept { ++depth; }
    ~CallbackScope() { --depth; }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
    static bool active() noexcept { return depth > 0; }

private:
    static int depth;
};

/// Calls a C callback inside a CallbackScope; a C++ callback that throws
/// must not unwind through board code.
template <typename Fn, typename... Args>
void invoke_callback(Fn fn, Args... args) noexcept
{
    CallbackScope scope;
    guard_void([&] { fn(args...); });
}

/// malloc copy of a string; throws std::bad_alloc.
char* dup_string(const std::string& s);
/// calloc'd, null-terminated list of malloc copies; throws std::bad_alloc.
char** dup_stringlist(const std::list<std::string>& list);

} // namespace flat
} // namespace KORVIK

/// The record behind a flat handle: one class-interface handle (one board
/// reference) and the connections of the callbacks set through it.
struct korvik_device {
    explicit korvik_device(KORVIK::EvUSBBoard* board) : device(board) {}
    ~korvik_device() { disconnect_all(); }

    void disconnect_all()
    {
        for (auto& c : slots)
            c.disconnect();
    }

    KORVIK::USBDevice device;
    sigc::connection slots[KORVIK::flat::SLOT_COUNT];
    /// Set by libkorvik_close: the handle answers with error values from then on.
    bool closed = false;
};

namespace KORVIK {
namespace flat {

/// Runs f on the handle's device inside the guard; null or closed handle: error.
template <typename R, typename F>
R with_device(korvik_device* h, R error, F&& f) noexcept
{
    if (!h || h->closed)
        return error;
    return guard<R>(error, [&]() -> R { return f(h->device); });
}

template <typename F>
void with_device_void(korvik_device* h, F&& f) noexcept
{
    if (!h || h->closed)
        return;
    guard_void([&] { f(h->device); });
}

} // namespace flat
} // namespace KORVIK
