// Flat interface: helpers, handle lifetime and the process-wide functions.

#include "api/flat/FlatCommon.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <vector>

#include <korvik/BoardHolding.h>

#include "board/MainLoop.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {
namespace flat {

int CallbackScope::depth = 0;

void report_current_exception() noexcept
{
    try {
        throw;
    } catch (const std::exception& e) {
        diag() << "exception: " << e.what() << std::endl;
    } catch (...) {
        diag() << "exception" << std::endl;
    }
}

char* dup_string(const std::string& s)
{
    char* copy = static_cast<char*>(std::malloc(s.size() + 1));
    if (!copy)
        throw std::bad_alloc();
    std::memcpy(copy, s.c_str(), s.size() + 1);
    return copy;
}

char** dup_stringlist(const std::list<std::string>& list)
{
    char** out = static_cast<char**>(std::calloc(list.size() + 1, sizeof(char*)));
    if (!out)
        throw std::bad_alloc();
    size_t i = 0;
    try {
        for (const auto& s : list)
            out[i++] = dup_string(s);
    } catch (...) {
        libkorvik_free_stringlist(out);
        throw;
    }
    return out;
}

namespace {

// Wraps the board of a temporary class-interface handle into a flat handle
// with its own reference, then drops the temporary.
korvik_device* adopt(USBDevice* temporary)
{
    if (!temporary)
        return nullptr;
    std::unique_ptr<USBDevice> owner(temporary);
    return new korvik_device(owner->get_board());
}

// One connection per process-wide kind; setting one replaces its subscriber.
struct ProcessSlot {
    sigc::connection connection;
    unsigned generation = 0;
};
ProcessSlot device_connect_slot;
ProcessSlot device_disconnect_slot;
ProcessSlot device_iface_connect_slot;
ProcessSlot device_iface_disconnect_slot;

template <typename Subscribe>
void set_process_callback(ProcessSlot& slot, bool has_fn, Subscribe&& subscribe) noexcept
{
    guard_void([&] {
        slot.connection.disconnect();
        unsigned generation = ++slot.generation;
        if (!has_fn)
            return;
        // the connect replay may call the new callback, which may set this
        // kind again: the later setting wins
        sigc::connection c = subscribe();
        if (generation == slot.generation)
            slot.connection = c;
        else
            c.disconnect();
    });
}

} // namespace
} // namespace flat
} // namespace KORVIK

using namespace KORVIK;
using namespace KORVIK::flat;

extern "C" {

KORVIK_API const char* KORVIK_CALL libkorvik_get_version(void)
{
    return guard<const char*>(nullptr, [] { return USBDevice::get_version().c_str(); });
}

KORVIK_API korvik_device* KORVIK_CALL libkorvik_open(const char* serial)
{
    if (!serial)
        return nullptr;
    return guard<korvik_device*>(nullptr, [&] { return adopt(USBDevice::open(serial)); });
}

KORVIK_API korvik_device* KORVIK_CALL libkorvik_open_iface(const char* iface)
{
    if (!iface)
        return nullptr;
    return guard<korvik_device*>(nullptr, [&] { return adopt(USBDevice::open_iface(iface)); });
}

KORVIK_API korvik_device* KORVIK_CALL libkorvik_open_simulation(const char* serial, const char* display_name,
                                                                const char* chip, const char* ethmac)
{
    if (!serial || !display_name || !chip || !ethmac)
        return nullptr;
    return guard<korvik_device*>(nullptr, [&] {
        return adopt(USBDevice::open_simulation(serial, display_name, chip, ethmac));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_close(korvik_device* dev)
{
    if (!dev || dev->closed)
        return;
    guard_void([&] {
        dev->closed = true;
        dev->disconnect_all();
        if (CallbackScope::active()) {
            // The emitting board code still runs below us and may hold the
            // last use of the board; release once the loop is back on top.
            main_context()->signal_idle().connect_once([dev] { delete dev; });
        } else {
            delete dev;
        }
    });
}

KORVIK_API void KORVIK_CALL libkorvik_periodic(void)
{
    guard_void([] { USBDevice::periodic(); });
}

KORVIK_API void KORVIK_CALL libkorvik_rescan_devices(void)
{
    guard_void([] { USBDevice::rescan_devices(); });
}

KORVIK_API void KORVIK_CALL libkorvik_release_unopened_boards(void)
{
    guard_void([] { KORVIK::release_unopened_boards(); });
}

KORVIK_API char** KORVIK_CALL libkorvik_get_busy_boards(void)
{
    return guard<char**>(nullptr, [] {
        std::list<std::string> pairs;
        for (const auto& entry : KORVIK::get_busy_boards()) {
            pairs.push_back(entry.first);
            pairs.push_back(entry.second);
        }
        return dup_stringlist(pairs);
    });
}

KORVIK_API void** KORVIK_CALL libkorvik_get_poll_handles(unsigned* count, int* timeout)
{
    if (count)
        *count = 0;
    return guard<void**>(nullptr, [&]() -> void** {
        std::vector<void*> handles;
        int t = USBDevice::get_poll_handles(handles);
        if (timeout)
            *timeout = t;
        if (!count || handles.empty())
            return nullptr;
        void** out = static_cast<void**>(std::malloc(handles.size() * sizeof(void*)));
        if (!out)
            throw std::bad_alloc();
        std::memcpy(out, handles.data(), handles.size() * sizeof(void*));
        *count = unsigned(handles.size());
        return out;
    });
}

KORVIK_API char** KORVIK_CALL libkorvik_get_supported_chips(void)
{
    return guard<char**>(nullptr, [] { return dup_stringlist(USBDevice::get_supported_chips()); });
}

KORVIK_API void KORVIK_CALL libkorvik_free_stringlist(char** list)
{
    if (!list)
        return;
    guard_void([list] {
        for (char** p = list; *p; ++p)
            std::free(*p);
        std::free(list);
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_device_connect(korvik_serial_fn fn, void* user)
{
    set_process_callback(device_connect_slot, fn != nullptr, [&] {
        return USBDevice::notify_device_connect(
            sigc::slot<void(const std::string&)>([fn, user](const std::string& serial) {
                invoke_callback(fn, serial.c_str(), user);
            }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_device_disconnect(korvik_serial_fn fn, void* user)
{
    set_process_callback(device_disconnect_slot, fn != nullptr, [&] {
        return USBDevice::notify_device_disconnect(
            sigc::slot<void(const std::string&)>([fn, user](const std::string& serial) {
                invoke_callback(fn, serial.c_str(), user);
            }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_device_iface_connect(korvik_iface_fn fn, void* user)
{
    set_process_callback(device_iface_connect_slot, fn != nullptr, [&] {
        return USBDevice::notify_device_connect(sigc::slot<void(const std::string&, const std::string&)>(
            [fn, user](const std::string& iface, const std::string& serial) {
                invoke_callback(fn, iface.c_str(), serial.c_str(), user);
            }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_device_iface_disconnect(korvik_iface_fn fn, void* user)
{
    set_process_callback(device_iface_disconnect_slot, fn != nullptr, [&] {
        return USBDevice::notify_device_disconnect(sigc::slot<void(const std::string&, const std::string&)>(
            [fn, user](const std::string& iface, const std::string& serial) {
                invoke_callback(fn, iface.c_str(), serial.c_str(), user);
            }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_diagnostic_sink(korvik_diagnostic_fn fn, void* user)
{
    guard_void([&] {
        if (!fn) {
            KORVIK::set_diagnostic_sink(nullptr);
            return;
        }
        KORVIK::set_diagnostic_sink([fn, user](const std::string& line) { fn(line.c_str(), user); });
    });
}

} // extern "C"
