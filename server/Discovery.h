#pragma once

#include <memory>
#include <string>
#include <vector>

namespace korvikd {

/// A korvikd that answered on DNS-SD (_korvik._tcp).
struct FoundServer {
    std::string name;
    std::string host;
    int port = 0;
    bool tls = true;
    /// The address it resolved to (for hosts without mDNS name lookups).
    std::string address;
    /// What a client gives as --server.
    std::string uri() const;
};

/// Looks for korvikd servers for at most `timeout_ms` (the whole search,
/// resolving included); throws std::runtime_error when there is no Avahi
/// daemon to ask.
std::vector<FoundServer> browse_servers(int timeout_ms);

/// Announces a korvikd on `port` while it lives; a host without Avahi gets
/// a warning on standard error and no announcement.
class Announcement {
public:
    Announcement(const std::string& name, int port, bool tls);
    ~Announcement();
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};

} // namespace korvikd
