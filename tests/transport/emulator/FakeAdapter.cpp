#include "FakeAdapter.h"

#include <chrono>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

namespace korvik_emu {

FakeLink::FakeLink(std::unique_ptr<BoardFirmware> f) : firmware(std::move(f))
{
    event_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

FakeLink::~FakeLink()
{
    close(event_fd);
}

void FakeLink::push(const Frame& frame)
{
    if (frame.empty())
        return;
    incoming.push_back(frame);
    uint64_t one = 1;
    (void)!write(event_fd, &one, sizeof one);
}

FakeAdapter::FakeAdapter(std::shared_ptr<FakeLink> l) : link(std::move(l))
{
    link->open = true;
    ++link->opens;
}

FakeAdapter::~FakeAdapter()
{
    link->open = false;
}

int FakeAdapter::send(const uint8_t* frame, unsigned len)
{
    if (link->fail_send || link->sends_until_failure == 0)
        return -1;
    if (link->sends_until_failure > 0)
        --link->sends_until_failure;
    link->sent.emplace_back(frame, frame + len);
    if (link->firmware) {
        std::vector<Frame> out;
        link->firmware->receive(frame, len, out);
        for (const Frame& f : out)
            link->push(f);
    }
    return 0;
}

unsigned FakeAdapter::send_all(const uint8_t* const* frames, const unsigned* lens, unsigned count)
{
    link->batches.push_back(count);
    return Adapter::send_all(frames, lens, count);
}

int FakeAdapter::next(const uint8_t** frame, unsigned* len)
{
    if (link->fail_read)
        return -1;
    if (link->incoming.empty()) {
        uint64_t v;
        (void)!read(link->event_fd, &v, sizeof v);
        return 0;
    }
    current = std::move(link->incoming.front());
    link->incoming.pop_front();
    *frame = current.data();
    *len = unsigned(current.size());
    return 1;
}

bool FakeAdapter::wait(int timeout_ms)
{
    if (!link->incoming.empty() || link->fail_read)
        return true;
    // nothing can arrive while the caller waits: let a little time pass so
    // that deadlines still come
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout_ms, 50)));
    return false;
}

int FakeAdapter::get_fd() const
{
    return link->event_fd;
}

std::shared_ptr<FakeLink> FakeAdapterSystem::add(const std::string& name, const std::string& description,
                                                 std::unique_ptr<BoardFirmware> firmware)
{
    auto link = std::make_shared<FakeLink>(std::move(firmware));
    infos.push_back({name, description});
    links[name] = link;
    return link;
}

bool FakeAdapterSystem::list(std::vector<KORVIK::AdapterInfo>& adapters, std::string& error)
{
    if (fail_list) {
        error = "no adapters for you";
        return false;
    }
    adapters = infos;
    return true;
}

std::unique_ptr<KORVIK::Adapter> FakeAdapterSystem::open(const std::string& name, std::string& error)
{
    auto it = links.find(name);
    if (it == links.end()) {
        error = "no such adapter";
        return nullptr;
    }
    return std::unique_ptr<KORVIK::Adapter>(new FakeAdapter(it->second));
}

} // namespace korvik_emu
