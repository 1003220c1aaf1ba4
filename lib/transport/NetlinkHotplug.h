#pragma once

#include <map>
#include <string>

#include "transport/Adapter.h"

namespace KORVIK {

/// Network interface changes from a NETLINK_ROUTE socket subscribed to link
/// messages. Only changes that can reveal a new board count (a new
/// interface, a new name or alias, an interface coming up); flag changes such
/// as promiscuous mode, which opening an adapter causes, do not.
class NetlinkHotplug : public HotplugSource {
public:
    /// Throws std::runtime_error when the socket cannot be opened.
    NetlinkHotplug();
    ~NetlinkHotplug() override;

    NetlinkHotplug(const NetlinkHotplug&) = delete;
    NetlinkHotplug& operator=(const NetlinkHotplug&) = delete;

    int get_fd() const override { return fd; }
    bool read_changes(std::vector<std::string>& removed) override;
    bool take_changed_links(std::vector<std::string>& names) override;

    struct Link {
        std::string name;
        std::string alias;
        bool up = false;
    };
    /// Applies one netlink datagram to the known links; pure apart from the
    /// map, so it can be fed recorded messages. Returns whether something a
    /// rescan may find changed.
    /// The names of the links that changed so go to `changed` when given.
    static bool apply_messages(std::map<int, Link>& links, const uint8_t* data, size_t len,
                               std::vector<std::string>& removed, bool* done = nullptr,
                               std::vector<std::string>* changed = nullptr);

private:
    int fd = -1;
    std::map<int, Link> links;
    std::vector<std::string> changed_links;
};

} // namespace KORVIK
