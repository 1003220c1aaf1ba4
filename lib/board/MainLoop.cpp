#include "board/MainLoop.h"

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
