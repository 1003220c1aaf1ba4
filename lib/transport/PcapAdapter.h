#pragma once

#include <functional>
#include <string>

#include "transport/Adapter.h"

namespace KORVIK {

/// Adapters of the host through libpcap (immediate mode, inbound frames only).
/// An open adapter holds an exclusive lock on the file "<name>.lock" in
/// adapter_lock_directory(), so a second process does not open the same
/// board; its open fails with "board <name> is in use by process <pid>".
class PcapAdapterSystem : public AdapterSystem {
public:
    bool list(std::vector<AdapterInfo>& adapters, std::string& error) override;
    std::unique_ptr<Adapter> open(const std::string& name, std::string& error) override;

private:
    std::unique_ptr<Adapter> open_locked(const std::string& name, std::string& error, int lock);
};

/// Runs close_one(0) .. close_one(count - 1) on threads of their own and
/// waits for them: closing a capture socket waits for the kernel's next grace
/// period, and these waits then overlap instead of adding up.
void close_adapters_together(size_t count, const std::function<void(size_t)>& close_one);

/// Where the adapters' lock files live: "korvik" in the user's runtime
/// directory.
std::string adapter_lock_directory();

/// Description of a network interface as a user would recognise the device:
/// the USB manufacturer and product strings for a USB adapter, else the
/// interface alias; empty when neither exists. `net_dir` is the sysfs
/// directory of network interfaces (normally /sys/class/net).
std::string describe_interface(const std::string& net_dir, const std::string& name);

} // namespace KORVIK
