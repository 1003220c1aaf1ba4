#pragma once

#include <glibmm/main.h>

namespace KORVIK {

/// The library's own GLib main context. Every source of the library (I/O
/// watches, timeouts, dispatchers) is attached here, never to the default
/// context: toolkits such as Qt already iterate the default context, and
/// pumping it a second time spins. Callers drive this one through
/// USBDevice::periodic() and USBDevice::get_poll_handles().
Glib::RefPtr<Glib::MainContext> main_context();

/// Dispatches everything ready on the library context without blocking.
void main_context_dispatch_pending();

/// A loop computed what to wait on (true: the context's sources were
/// prepared, by GLib's own loop or by USBDevice::get_poll_handles()) or has
/// finished dispatching without waiting (false: USBDevice::periodic()).
void note_loop_may_wait(bool may_wait);
/// Whether a source whose time moved earlier must wake the context: no
/// when this thread iterates it (it looks at the sources again before it
/// waits) or when the last loop to look has dispatched since; yes when
/// another thread iterates it or a loop may wait with an older timeout.
bool main_context_needs_wakeup();

} // namespace KORVIK
