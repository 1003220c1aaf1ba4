#include "Discovery.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/thread-watch.h>

namespace korvikd {

namespace {

const char* const SERVICE_TYPE = "_korvik._tcp";

struct Search {
    AvahiSimplePoll* poll = nullptr;
    AvahiClient* client = nullptr;
    std::vector<FoundServer> found;
    int resolving = 0;
    bool all_for_now = false;
};

void on_resolved(AvahiServiceResolver* r, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event, const char* name,
                 const char*, const char*, const char* host, const AvahiAddress* address, uint16_t port,
                 AvahiStringList* txt, AvahiLookupResultFlags, void* data)
{
    auto* search = static_cast<Search*>(data);
    if (event == AVAHI_RESOLVER_FOUND) {
        FoundServer s;
        s.name = name;
        s.host = host;
        s.port = port;
        if (address) {
            char text[AVAHI_ADDRESS_STR_MAX] = {0};
            avahi_address_snprint(text, sizeof text, address);
            s.address = text;
        }
        s.tls = !avahi_string_list_find(txt, "tls=0");
        bool seen = false;
        for (const auto& f : search->found)
            seen = seen || (f.host == s.host && f.port == s.port);
        if (!seen)
            search->found.push_back(s);
    }
    --search->resolving;
    avahi_service_resolver_free(r);
}

void on_browse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
               const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* data)
{
    auto* search = static_cast<Search*>(data);
    if (event == AVAHI_BROWSER_NEW) {
        if (avahi_service_resolver_new(search->client, interface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
                                       AvahiLookupFlags(0), on_resolved, search))
            ++search->resolving;
    } else if (event == AVAHI_BROWSER_ALL_FOR_NOW) {
        search->all_for_now = true;
    }
}

} // namespace

std::string FoundServer::uri() const
{
    const bool v6 = host.find(':') != std::string::npos;
    const std::string h = v6 ? "[" + host + "]" : host;
    return std::string(tls ? "tls://" : "tcp://") + h + ":" + std::to_string(port);
}

std::vector<FoundServer> browse_servers(int timeout_ms)
{
    Search search;
    search.poll = avahi_simple_poll_new();
    if (!search.poll)
        throw std::runtime_error("cannot start a DNS-SD search");
    int error = 0;
    // no waiting for a daemon that is not there: the search is bounded
    search.client =
        avahi_client_new(avahi_simple_poll_get(search.poll), AvahiClientFlags(0), nullptr, nullptr, &error);
    if (!search.client) {
        avahi_simple_poll_free(search.poll);
        throw std::runtime_error(std::string("no DNS-SD: ") + avahi_strerror(error));
    }
    AvahiServiceBrowser* browser =
        avahi_service_browser_new(search.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, SERVICE_TYPE, nullptr,
                                  AvahiLookupFlags(0), on_browse, &search);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (browser) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (search.all_for_now && search.resolving == 0))
            break;
        if (avahi_simple_poll_iterate(search.poll, int(left.count())) != 0)
            break;
    }
    if (browser)
        avahi_service_browser_free(browser);
    avahi_client_free(search.client);
    avahi_simple_poll_free(search.poll);
    return search.found;
}

struct Announcement::Impl {
    ~Impl() { avahi_free(alternative); }
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    std::string name;
    char* alternative = nullptr;
    int port = 0;
    bool tls = true;
};

namespace {

void announce(AvahiClient* client, Announcement::Impl* impl);

void next_name(Announcement::Impl* impl)
{
    char* next = avahi_alternative_service_name(impl->alternative ? impl->alternative : impl->name.c_str());
    avahi_free(impl->alternative);
    impl->alternative = next;
}

void on_group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* data)
{
    auto* impl = static_cast<Announcement::Impl*>(data);
    if (state != AVAHI_ENTRY_GROUP_COLLISION)
        return;
    // another service has the name (a second daemon on this host, say):
    // take the next one, "NAME #2", as DNS-SD does
    next_name(impl);
    avahi_entry_group_reset(group);
    announce(avahi_entry_group_get_client(group), impl);
}

void announce(AvahiClient* client, Announcement::Impl* impl)
{
    if (avahi_client_get_state(client) != AVAHI_CLIENT_S_RUNNING)
        return;
    if (!impl->group)
        impl->group = avahi_entry_group_new(client, on_group, impl);
    if (!impl->group || !avahi_entry_group_is_empty(impl->group))
        return;
    int result = 0;
    for (int tries = 0; tries < 100; ++tries) {
        const char* name = impl->alternative ? impl->alternative : impl->name.c_str();
        result = avahi_entry_group_add_service(impl->group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                               AvahiPublishFlags(0), name, SERVICE_TYPE, nullptr, nullptr,
                                               uint16_t(impl->port), impl->tls ? "tls=1" : "tls=0", nullptr);
        if (result != AVAHI_ERR_COLLISION)
            break;
        // a service of this host has the name already: the next one at once
        next_name(impl);
    }
    if (result >= 0)
        result = avahi_entry_group_commit(impl->group);
    if (result < 0)
        std::fprintf(stderr, "korvikd: cannot announce %s on DNS-SD: %s\n", impl->name.c_str(),
                     avahi_strerror(result));
}

void on_client(AvahiClient* client, AvahiClientState state, void* data)
{
    auto* impl = static_cast<Announcement::Impl*>(data);
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        announce(client, impl);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // the host's name changes: announce again once it is settled
        if (impl->group)
            avahi_entry_group_reset(impl->group);
        break;
    case AVAHI_CLIENT_CONNECTING:
    case AVAHI_CLIENT_FAILURE:
        // the Avahi daemon went away: its groups went with it, and
        // AVAHI_CLIENT_NO_FAIL brings the client back when it returns
        impl->group = nullptr;
        break;
    }
}

} // namespace

Announcement::Announcement(const std::string& name, int port, bool tls) : impl(std::make_unique<Impl>())
{
    impl->name = name;
    impl->port = port;
    impl->tls = tls;
    impl->poll = avahi_threaded_poll_new();
    if (!impl->poll)
        return;
    int error = 0;
    // NO_FAIL: an Avahi daemon that starts later, or restarts, still gets
    // the announcement
    impl->client = avahi_client_new(avahi_threaded_poll_get(impl->poll), AVAHI_CLIENT_NO_FAIL, on_client, impl.get(),
                                    &error);
    if (!impl->client) {
        std::fprintf(stderr, "korvikd: not announced on DNS-SD: %s\n", avahi_strerror(error));
        return;
    }
    avahi_threaded_poll_start(impl->poll);
}

Announcement::~Announcement()
{
    if (impl->poll)
        avahi_threaded_poll_stop(impl->poll);
    if (impl->client)
        avahi_client_free(impl->client);
    if (impl->poll)
        avahi_threaded_poll_free(impl->poll);
}

} // namespace korvikd
