// Flat interface: per-device callbacks. Each kind owns one connection slot in
// the handle; setting a kind first drops what that slot held.

#include "api/flat/FlatCommon.h"

#include <cstddef>

using namespace KORVIK;
using namespace KORVIK::flat;

// The C record mirrors the exported C++ status record field by field.
static_assert(sizeof(korvik_status) == sizeof(USBDeviceStatus), "status layout");
static_assert(offsetof(korvik_status, ticks) == offsetof(USBDeviceStatus, ticks), "status layout");
static_assert(offsetof(korvik_status, progstate) == offsetof(USBDeviceStatus, progstate), "status layout");
static_assert(offsetof(korvik_status, aux3) == offsetof(USBDeviceStatus, aux3), "status layout");
static_assert(offsetof(korvik_status, flag2) == offsetof(USBDeviceStatus, flag2), "status layout");
static_assert(offsetof(korvik_status, flag7) == offsetof(USBDeviceStatus, flag7), "status layout");
static_assert(sizeof(bool) == sizeof(uint8_t), "status flags are single bytes");

namespace {

/// Replaces the callback in one slot of the handle. `subscribe` connects the
/// new callback and is only called for a non-null function.
template <typename Subscribe>
void set_device_callback(korvik_device* h, Slot slot, bool has_fn, Subscribe&& subscribe) noexcept
{
    if (!h || h->closed)
        return;
    guard_void([&] {
        h->slots[slot].disconnect();
        if (has_fn)
            h->slots[slot] = subscribe(h->device);
    });
}

korvik_status to_c(const USBDeviceStatus& s)
{
    korvik_status c;
    c.time_sec = s.time_sec;
    c.time_usec = s.time_usec;
    c.ticks = s.ticks;
    c.value1 = s.value1;
    c.value2 = s.value2;
    c.value3 = s.value3;
    c.progstate = s.progstate;
    c.progdetail = s.progdetail;
    c.aux1 = s.aux1;
    c.aux2 = s.aux2;
    c.aux3 = s.aux3;
    c.flag0 = s.flag0;
    c.flag1 = s.flag1;
    c.flag2 = s.flag2;
    c.flag3 = s.flag3;
    c.flag4 = s.flag4;
    c.flag5 = s.flag5;
    c.flag6 = s.flag6;
    c.flag7 = s.flag7;
    return c;
}

using PacketSlot = sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>;

} // namespace

extern "C" {

KORVIK_API void KORVIK_CALL libkorvik_set_callback_status(korvik_device* dev, korvik_status_fn fn, void* user)
{
    set_device_callback(dev, SLOT_status, fn != nullptr, [=](USBDevice& d) {
        return d.notify_status(sigc::slot<void(const USBDeviceStatus&)>([fn, user](const USBDeviceStatus& s) {
            korvik_status c = to_c(s);
            invoke_callback(fn, static_cast<const korvik_status*>(&c), user);
        }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_receive_packet(korvik_device* dev, korvik_packet_fn fn, void* user)
{
    set_device_callback(dev, SLOT_receive, fn != nullptr, [=](USBDevice& d) {
        return d.notify_receive_packet(
            PacketSlot([fn, user](const unsigned char* data, unsigned int length, const unsigned char* address) {
                invoke_callback(fn, data, length, address, user);
            }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_receive_packet_v2(korvik_device* dev, korvik_packet_v2_fn fn,
                                                                     void* user)
{
    set_device_callback(dev, SLOT_receive, fn != nullptr, [=](USBDevice& d) {
        return d.notify_receive_packet(
            sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>(
                [fn, user](const unsigned char* data, unsigned int length, const unsigned char* address, short rssi,
                           int frequency_offset) {
                    invoke_callback(fn, data, length, address, int(rssi), frequency_offset, user);
                }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_transmit_packet(korvik_device* dev, korvik_packet_fn fn, void* user)
{
    set_device_callback(dev, SLOT_transmit, fn != nullptr, [=](USBDevice& d) {
        return d.notify_transmit_packet(
            PacketSlot([fn, user](const unsigned char* data, unsigned int length, const unsigned char* address) {
                invoke_callback(fn, data, length, address, user);
            }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_changed_register(korvik_device* dev, korvik_register_fn fn,
                                                                    void* user)
{
    set_device_callback(dev, SLOT_register, fn != nullptr, [=](USBDevice& d) {
        return d.notify_changed_register(sigc::slot<void(unsigned int, unsigned char, unsigned char)>(
            [fn, user](unsigned int index, unsigned char a, unsigned char b) {
                invoke_callback(fn, index, unsigned(a), unsigned(b), user);
            }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_changed_bitfield(korvik_device* dev, korvik_bitfield_fn fn,
                                                                    void* user)
{
    set_device_callback(dev, SLOT_bitfield, fn != nullptr, [=](USBDevice& d) {
        return d.notify_changed_bitfield(sigc::slot<void(unsigned int, unsigned int)>(
            [fn, user](unsigned int index, unsigned int value) { invoke_callback(fn, index, value, user); }));
    });
}

KORVIK_API void KORVIK_CALL libkorvik_set_callback_terminate_autoranging(korvik_device* dev, korvik_autoranging_fn fn,
                                                                         void* user)
{
    set_device_callback(dev, SLOT_autoranging, fn != nullptr, [=](USBDevice& d) {
        return d.notify_terminate_autoranging(sigc::slot<void(int, int)>(
            [fn, user](int rx_range, int tx_range) { invoke_callback(fn, rx_range, tx_range, user); }));
    });
}

#define FLAT_CHANGED(name)                                                                             \
    KORVIK_API void KORVIK_CALL libkorvik_set_callback_changed_##name(korvik_device* dev, korvik_changed_fn fn, \
                                                                      void* user)                     \
    {                                                                                                  \
        set_device_callback(dev, SLOT_##name, fn != nullptr, [=](USBDevice& d) {                       \
            return d.notify_changed_##name(sigc::slot<void()>([fn, user] { invoke_callback(fn, user); })); \
        });                                                                                            \
    }
KORVIK_CHANGES(FLAT_CHANGED)
#undef FLAT_CHANGED

} // extern "C"
