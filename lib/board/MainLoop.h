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

} // namespace KORVIK
