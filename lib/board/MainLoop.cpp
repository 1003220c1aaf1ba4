#include "board/MainLoop.h"

#include <atomic>

#include <glibmm/init.h>

namespace KORVIK {

Glib::RefPtr<Glib::MainContext> main_context()
{
    // Created on first use and kept for the life of the process, like the
    // registry that uses it.
    static Glib::RefPtr<Glib::MainContext> context = [] {
        Glib::init();
        return Glib::MainContext::create();
    }();
    return context;
}

namespace {
// until a loop is known to have finished without waiting, one may wait
std::atomic<bool> loop_may_wait{true};
}

void note_loop_may_wait(bool may_wait)
{
    loop_may_wait.store(may_wait, std::memory_order_release);
}

bool main_context_needs_wakeup()
{
    GMainContext* context = main_context()->gobj();
    if (g_main_context_is_owner(context))
        return false;
    if (!g_main_context_acquire(context))
        return true;
    g_main_context_release(context);
    return loop_may_wait.load(std::memory_order_acquire);
}

void main_context_dispatch_pending()
{
    auto context = main_context();
    // Acquire so that this thread owns the context while dispatching.
    if (!context->acquire())
        return;
    while (context->iteration(false)) {
    }
    context->release();
}

} // namespace KORVIK
