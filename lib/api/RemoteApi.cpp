// The public face of korvikd's boards: connecting to servers.

#include <korvik/Servers.h>
#include <korvik/USBDevice.h>

#include <stdexcept>

#include "registry/Library.h"
#include "remote/RemoteBoard.h"
#include "remote/RemoteLink.h"

namespace KORVIK {

namespace {

RemoteBoard* remote_board(const USBDevice& device)
{
    Library* library = Library::instance();
    if (!library)
        return nullptr;
    auto entry = library->find_interface(device.get_interface());
    return entry == library->end() ? nullptr : dynamic_cast<RemoteBoard*>(entry->second);
}

} // namespace

void Servers::connect(const std::string& uri)
{
    Library* library = Library::instance();
    if (!library)
        throw std::runtime_error("the library cannot start");
    RemoteServers::connect(library, uri);
}

std::string Servers::check(const std::string& uri, int timeout_ms)
{
    return RemoteServers::check(uri, timeout_ms);
}

bool Servers::disconnect(const std::string& uri)
{
    return RemoteServers::disconnect(uri);
}

std::list<std::string> Servers::list()
{
    std::list<std::string> uris;
    for (const auto& link : RemoteServers::links())
        uris.push_back(link.first);
    return uris;
}

bool Servers::is_remote(const USBDevice& device)
{
    return remote_board(device) != nullptr;
}

std::string Servers::server_of(const USBDevice& device)
{
    RemoteBoard* remote = remote_board(device);
    RemoteLink* link = remote ? remote->get_link() : nullptr;
    return link ? link->get_uri().text : std::string();
}

std::string Servers::lease_holder(const USBDevice& device)
{
    RemoteBoard* remote = remote_board(device);
    RemoteLink* link = remote ? remote->get_link() : nullptr;
    return link ? link->lease_text(remote->get_remote_id()) : std::string();
}

} // namespace KORVIK
