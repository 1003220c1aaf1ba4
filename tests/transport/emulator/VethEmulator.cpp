#include "VethEmulator.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "EmulatedAir.h"

namespace korvik_emu {

bool read_interface_mac(const std::string& interface, uint8_t mac[6])
{
    std::ifstream in("/sys/class/net/" + interface + "/address");
    std::string text;
    if (!(in >> text))
        return false;
    unsigned v[6];
    if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = uint8_t(v[i]);
    return true;
}

VethEmulator::VethEmulator(const std::string& interface, const std::string& serial, const uint8_t mac[6])
    : firmware(serial, mac)
{
    ifindex = int(if_nametoindex(interface.c_str()));
    if (ifindex == 0)
        throw std::runtime_error("VethEmulator: no interface " + interface);
    fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0)
        throw std::runtime_error(std::string("VethEmulator: socket: ") + std::strerror(errno));
    struct sockaddr_ll addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_ALL);
    addr.sll_ifindex = ifindex;
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
        int e = errno;
        close(fd);
        throw std::runtime_error(std::string("VethEmulator: bind: ") + std::strerror(e));
    }
    // the board does not need to see its own frames
    int ignore = 1;
    setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
    thread = std::thread(&VethEmulator::run, this);
}

VethEmulator::~VethEmulator()
{
    set_air(nullptr);
    stop();
    close(fd);
}

void VethEmulator::stop()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
}

void VethEmulator::set_air(EmulatedAir* a)
{
    if (EmulatedAir* old = air.exchange(a))
        old->detach(this);
    if (a)
        a->attach(this);
}

void VethEmulator::set_status_interval(std::chrono::milliseconds interval)
{
    std::lock_guard<std::mutex> lock(mutex);
    status_interval = interval;
}

void VethEmulator::with_firmware(const std::function<void(BoardFirmware&)>& f)
{
    std::lock_guard<std::mutex> lock(mutex);
    f(firmware);
}

void VethEmulator::send(const Frame& frame)
{
    if (frame.empty())
        return;
    struct sockaddr_ll addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sll_family = AF_PACKET;
    addr.sll_ifindex = ifindex;
    addr.sll_halen = 6;
    std::memcpy(addr.sll_addr, frame.data(), 6);
    // errors (interface gone) are the scenario of the test, not ours
    sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr);
}

void VethEmulator::set_link_faults(const LinkFaults& f)
{
    std::lock_guard<std::mutex> lock(mutex);
    faults = f;
    fault_state = f.seed;
}

double VethEmulator::draw()
{
    // splitmix64, as the air: one seed gives one run
    uint64_t z = (fault_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return double(z >> 11) * 0x1.0p-53;
}

void VethEmulator::send_faulty(const Frame& frame)
{
    LinkFaults f;
    {
        std::lock_guard<std::mutex> lock(mutex);
        f = faults;
    }
    if (f.drop_first) {
        std::lock_guard<std::mutex> lock(mutex);
        --faults.drop_first;
        return;
    }
    if (f.loss <= 0 && f.reorder <= 0 && f.duplicate <= 0 && held.empty()) {
        send(frame);
        return;
    }
    if (draw() < f.loss)
        return;
    const bool twice = draw() < f.duplicate;
    if (held.empty() && draw() < f.reorder) {
        held = frame;
        held_rounds = 0;
        if (twice)
            send(frame);
        return;
    }
    send(frame);
    if (twice)
        send(frame);
    if (!held.empty()) {
        send(held);
        held.clear();
    }
}

void VethEmulator::run()
{
    using clock = std::chrono::steady_clock;
    auto next_status = clock::now();
    // every frame that is there in one call, and the replies to them in
    // another: a board answers a window of requests as one burst, and
    // per-frame calls would make the emulator, not the host, the cost of
    // every benchmark that talks to many boards
    constexpr unsigned BATCH = 64;
    std::vector<std::array<uint8_t, 2048>> buffers(BATCH);
    struct mmsghdr in[BATCH];
    struct iovec in_parts[BATCH];
    struct sockaddr_ll from[BATCH];
    std::memset(in, 0, sizeof in);
    for (unsigned i = 0; i < BATCH; ++i) {
        in_parts[i] = {buffers[i].data(), buffers[i].size()};
        in[i].msg_hdr.msg_iov = &in_parts[i];
        in[i].msg_hdr.msg_iovlen = 1;
        in[i].msg_hdr.msg_name = &from[i];
        in[i].msg_hdr.msg_namelen = sizeof from[i];
    }
    std::vector<Frame> replies;
    while (!stopping) {
        std::chrono::milliseconds interval;
        {
            std::lock_guard<std::mutex> lock(mutex);
            interval = status_interval;
        }
        int timeout = 20;
        if (interval.count() > 0) {
            auto now = clock::now();
            if (now >= next_status) {
                Frame status;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    status = firmware.status_frame();
                }
                send_faulty(status);
                next_status = now + interval;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_status - clock::now()).count();
            timeout = int(std::max<long long>(0, std::min<long long>(left, 20)));
        }
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, timeout) <= 0) {
            // a frame kept back arrives late when no other follows it
            if (!held.empty() && ++held_rounds >= 2) {
                send(held);
                held.clear();
            }
            continue;
        }
        if (p.revents & POLLERR) {
            // the interface went away: nothing more to do but wait for stop()
            int e = 0;
            socklen_t l = sizeof e;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &l);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const int got = recvmmsg(fd, in, BATCH, MSG_DONTWAIT, nullptr);
        if (got <= 0)
            continue;
        replies.clear();
        for (int i = 0; i < got; ++i) {
            in[i].msg_hdr.msg_namelen = sizeof from[i]; // for the next call
            if (from[i].sll_pkttype == PACKET_OUTGOING)
                continue;
            std::vector<Frame> out;
            std::vector<std::vector<uint8_t>> sent_on_air;
            unsigned delay_us = 0;
            bool faulty = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                const size_t before = firmware.net_packets.size();
                firmware.receive(buffers[i].data(), unsigned(in[i].msg_len), out);
                sent_on_air.assign(firmware.net_packets.begin() + long(before), firmware.net_packets.end());
                delay_us = firmware.answer_delay_us;
                faulty = faults.loss > 0 || faults.reorder > 0 || faults.duplicate > 0 || faults.drop_first > 0 ||
                         !held.empty();
            }
            if (delay_us || faulty || !sent_on_air.empty()) {
                // in order with what went before: the batch so far first
                send_all(replies);
                replies.clear();
                // a slow board also takes the next request only after this one
                if (delay_us && !out.empty())
                    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
                for (const Frame& f : out)
                    send_faulty(f);
            } else {
                for (Frame& f : out)
                    replies.push_back(std::move(f));
            }
            // outside the board's lock: the air takes the other boards' locks
            if (EmulatedAir* a = air.load())
                for (const auto& p : sent_on_air)
                    a->transmit(this, p);
        }
        send_all(replies);
    }
}

void VethEmulator::send_all(const std::vector<Frame>& frames)
{
    if (frames.size() == 1) {
        send(frames[0]); // one request answered: as cheap as before batching
        return;
    }
    constexpr size_t BATCH = 64;
    for (size_t first = 0; first < frames.size(); first += BATCH) {
        const size_t n = std::min(BATCH, frames.size() - first);
        struct mmsghdr out[BATCH];
        struct iovec parts[BATCH];
        struct sockaddr_ll to[BATCH];
        std::memset(out, 0, sizeof(out[0]) * n);
        unsigned k = 0;
        for (size_t i = 0; i < n; ++i) {
            const Frame& f = frames[first + i];
            if (f.empty())
                continue;
            std::memset(&to[k], 0, sizeof to[k]);
            to[k].sll_family = AF_PACKET;
            to[k].sll_ifindex = ifindex;
            to[k].sll_halen = 6;
            std::memcpy(to[k].sll_addr, f.data(), 6);
            parts[k] = {const_cast<uint8_t*>(f.data()), f.size()};
            out[k].msg_hdr.msg_iov = &parts[k];
            out[k].msg_hdr.msg_iovlen = 1;
            out[k].msg_hdr.msg_name = &to[k];
            out[k].msg_hdr.msg_namelen = sizeof to[k];
            ++k;
        }
        // errors (interface gone) are the scenario of the test, not ours
        for (unsigned done = 0; done < k;) {
            const int sent = sendmmsg(fd, out + done, k - done, 0);
            if (sent <= 0)
                break;
            done += unsigned(sent);
        }
    }
}

} // namespace korvik_emu
