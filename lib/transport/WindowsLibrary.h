#pragma once

#include <memory>
#include <string>

#include <glibmm/main.h>

#include "api/registry/Library.h"
#include "transport/Adapter.h"

namespace KORVIK {

class WindowsEvUSBBoard;

/// The registry with board discovery: finds boards among the host's network
/// adapters and rescans when adapters come or go. Library::instance() creates
/// the one process-wide object, which scans once during construction.
class WindowsLibrary : public Library {
public:
    /// Adapters through libpcap, hot-plug through a netlink socket.
    WindowsLibrary();
    /// Given adapter system and hot-plug source (either may be null: no
    /// adapters, no hot-plug). Scans once.
    WindowsLibrary(std::unique_ptr<AdapterSystem> adapters, std::unique_ptr<HotplugSource> hotplug);
    ~WindowsLibrary() override;

    /// Looks for boards that are not registered yet and registers them. An
    /// exception while a new board reads its NV sector ends the scan and
    /// reaches the caller.
    void scan() override;

    /// Hot-plug handler: boards whose adapter went away leave the registry;
    /// news that may reveal a board schedules one rescan for the whole burst.
    bool new_device_handler(Glib::IOCondition condition);

    /// Quiet time after the last hot-plug message before the rescan runs.
    void set_rescan_delay_ms(unsigned ms) { rescan_delay_ms = ms; }
    bool is_rescan_pending() const { return rescan_timer.connected(); }

    /// The registered adapter board with this interface name or display name.
    WindowsEvUSBBoard* find_adapter_board(const std::string& interface) const;
    WindowsEvUSBBoard* find_adapter_board_by_display_name(const std::string& name) const;

private:
    void init();
    bool rescan_now();
    void probe(const AdapterInfo& info);

    std::unique_ptr<AdapterSystem> adapters;
    std::unique_ptr<HotplugSource> hotplug;
    sigc::connection event_connection;
    sigc::connection rescan_timer;
    unsigned rescan_delay_ms = 200;
};

} // namespace KORVIK
