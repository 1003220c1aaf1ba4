#include "transport/NetlinkHotplug.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace KORVIK {

NetlinkHotplug::NetlinkHotplug()
{
    fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        throw std::runtime_error(std::string("NetlinkHotplug: socket: ") + std::strerror(errno));
    struct sockaddr_nl addr;
    std::memset(&addr, 0, sizeof addr);
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = RTMGRP_LINK;
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
        int e = errno;
        close(fd);
        throw std::runtime_error(std::string("NetlinkHotplug: bind: ") + std::strerror(e));
    }

    // learn the links present now, so that only later changes count
    struct {
        struct nlmsghdr header;
        struct ifinfomsg info;
    } request;
    std::memset(&request, 0, sizeof request);
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(struct ifinfomsg));
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.info.ifi_family = 0; // links of every address family
    if (send(fd, &request, request.header.nlmsg_len, 0) < 0)
        return;
    std::vector<std::string> ignored;
    alignas(struct nlmsghdr) uint8_t buffer[32768];
    bool done = false;
    while (!done) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            break;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        apply_messages(links, buffer, size_t(n), ignored, &done);
    }
}

NetlinkHotplug::~NetlinkHotplug()
{
    if (fd >= 0)
        close(fd);
}

bool NetlinkHotplug::read_changes(std::vector<std::string>& removed)
{
    bool changed = false;
    alignas(struct nlmsghdr) uint8_t buffer[32768];
    for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            // messages were lost: we cannot tell what changed, so rescan
            if (errno == ENOBUFS) {
                changed = true;
                continue;
            }
            break;
        }
        if (n == 0)
            break;
        if (apply_messages(links, buffer, size_t(n), removed, nullptr, &changed_links))
            changed = true;
    }
    return changed;
}

bool NetlinkHotplug::take_changed_links(std::vector<std::string>& names)
{
    names.insert(names.end(), changed_links.begin(), changed_links.end());
    changed_links.clear();
    return true;
}

bool NetlinkHotplug::apply_messages(std::map<int, Link>& links, const uint8_t* data, size_t len,
                                    std::vector<std::string>& removed, bool* done,
                                    std::vector<std::string>* changed_names)
{
    bool changed = false;
    size_t offset = 0;
    while (len - offset >= sizeof(struct nlmsghdr)) {
        struct nlmsghdr h;
        std::memcpy(&h, data + offset, sizeof h);
        if (h.nlmsg_len < sizeof h || h.nlmsg_len > len - offset)
            break;
        const uint8_t* body = data + offset + NLMSG_HDRLEN;
        size_t body_len = h.nlmsg_len >= NLMSG_HDRLEN ? h.nlmsg_len - NLMSG_HDRLEN : 0;
        if (h.nlmsg_type == NLMSG_DONE || h.nlmsg_type == NLMSG_ERROR) {
            if (done)
                *done = true;
        } else if ((h.nlmsg_type == RTM_NEWLINK || h.nlmsg_type == RTM_DELLINK) &&
                   body_len >= sizeof(struct ifinfomsg)) {
            struct ifinfomsg info;
            std::memcpy(&info, body, sizeof info);
            Link link;
            link.up = info.ifi_flags & IFF_UP;
            bool has_alias = false;
            size_t a = NLMSG_ALIGN(sizeof(struct ifinfomsg));
            while (a + sizeof(struct rtattr) <= body_len) {
                struct rtattr attr;
                std::memcpy(&attr, body + a, sizeof attr);
                if (attr.rta_len < sizeof attr || attr.rta_len > body_len - a)
                    break;
                const char* value = reinterpret_cast<const char*>(body + a + RTA_LENGTH(0));
                size_t value_len = attr.rta_len - RTA_LENGTH(0);
                if (attr.rta_type == IFLA_IFNAME || attr.rta_type == IFLA_IFALIAS) {
                    std::string s(value, strnlen(value, value_len));
                    if (attr.rta_type == IFLA_IFNAME) {
                        link.name = s;
                    } else {
                        link.alias = s;
                        has_alias = true;
                    }
                }
                a += RTA_ALIGN(attr.rta_len);
            }
            auto known = links.find(info.ifi_index);
            if (h.nlmsg_type == RTM_DELLINK) {
                if (known != links.end()) {
                    removed.push_back(known->second.name);
                    links.erase(known);
                } else if (!link.name.empty()) {
                    removed.push_back(link.name);
                }
            } else if (known == links.end()) {
                links[info.ifi_index] = link;
                changed = true;
                if (changed_names)
                    changed_names->push_back(link.name);
            } else {
                Link& old = known->second;
                if (!has_alias)
                    link.alias = old.alias;
                if (link.name.empty())
                    link.name = old.name;
                if (link.name != old.name || link.alias != old.alias || (link.up && !old.up)) {
                    changed = true;
                    if (changed_names)
                        changed_names->push_back(link.name);
                }
                old = link;
            }
        }
        offset += NLMSG_ALIGN(h.nlmsg_len);
        if (offset > len)
            break;
    }
    return changed;
}

} // namespace KORVIK
