// The public face of korvikd's boards: connecting to servers.

#include <korvik/USBDevice.h>

#include "registry/Library.h"
#include "remote/RemoteBoard.h"
#include "remote/RemoteLink.h"

namespace KORVIK {

void USBDevice::connect_server(const std::string& uri)
{
    Library* library = Library::instance();
    if (!library)
        throw std::runtime_error("the library cannot start");
    RemoteServers::connect(library, uri);
}

bool USBDevice::disconnect_server(const std::string& uri)
{
    return RemoteServers::disconnect(uri);
}

std::list<std::string> USBDevice::get_servers()
{
    std::list<std::string> uris;
    for (const auto& link : RemoteServers::links())
        uris.push_back(link.first);
    return uris;
}

bool USBDevice::is_remote() const
{
    return dynamic_cast<RemoteBoard*>(board) != nullptr;
}

std::string USBDevice::get_lease_holder() const
{
    auto* remote = dynamic_cast<RemoteBoard*>(board);
    RemoteLink* link = remote ? remote->get_link() : nullptr;
    return link ? link->lease_text(remote->get_remote_id()) : std::string();
}

} // namespace KORVIK
