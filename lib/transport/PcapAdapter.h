#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "transport/Adapter.h"

namespace KORVIK {

class BoardLock;

/// Adapters of the host through libpcap (immediate mode, inbound frames only).
/// An open adapter holds its board's host-wide lock (transport/BoardLock.h),
/// so a second process does not open the same board; its open fails with
/// "board <name> is in use by PID <pid> (<command>)".
class PcapAdapterSystem : public AdapterSystem {
public:
    /// How long an open waits for a board that another process holds.
    static constexpr unsigned LOCK_WAIT_MS = 1500;

    bool list(std::vector<AdapterInfo>& adapters, std::string& error) override;
    std::unique_ptr<Adapter> open(const std::string& name, std::string& error) override;

private:
    std::mutex waited_mutex;
    std::set<std::string> waited;
    std::unique_ptr<Adapter> open_locked(const std::string& name, std::string& error,
                                         std::unique_ptr<BoardLock> lock);
};

/// Runs close_one(0) .. close_one(count - 1) on threads of their own and
/// waits for them: closing a capture socket waits for the kernel's next grace
/// period, and these waits then overlap instead of adding up.
void close_adapters_together(size_t count, const std::function<void(size_t)>& close_one);

/// Description of a network interface as a user would recognise the device:
/// the USB manufacturer and product strings for a USB adapter, else the
/// interface alias; empty when neither exists. `net_dir` is the sysfs
/// directory of network interfaces (normally /sys/class/net).
std::string describe_interface(const std::string& net_dir, const std::string& name);

} // namespace KORVIK
