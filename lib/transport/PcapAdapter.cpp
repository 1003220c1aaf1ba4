#include "transport/PcapAdapter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <pcap/pcap.h>

#include "board/FrameArrival.h"
#include "model/common/Diagnostics.h"
#include "transport/BoardLock.h"

namespace KORVIK {

namespace {

std::string read_line(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (in)
        std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

class PcapAdapter;

// Closing a capture socket waits for the kernel's next grace period (some
// milliseconds); the kernel closes what a process leaves open one socket
// after the other. Adapters still open at exit are closed side by side.
std::mutex open_mutex;
std::set<PcapAdapter*>* open_adapters = nullptr;

void close_open_adapters();

void remember(PcapAdapter* adapter)
{
    std::lock_guard<std::mutex> lock(open_mutex);
    if (!open_adapters) {
        // never destroyed: adapters may be closed during static destruction
        open_adapters = new std::set<PcapAdapter*>;
        std::atexit(close_open_adapters);
    }
    open_adapters->insert(adapter);
}

void forget(PcapAdapter* adapter)
{
    std::lock_guard<std::mutex> lock(open_mutex);
    if (open_adapters)
        open_adapters->erase(adapter);
}

class PcapAdapter : public Adapter {
public:
    PcapAdapter(pcap_t* p, unsigned mtu, std::unique_ptr<BoardLock> lock)
        : pcap(p), fd(pcap_get_selectable_fd(p)), mtu(mtu), lock(std::move(lock))
    {
        remember(this);
    }
    ~PcapAdapter() override
    {
        forget(this);
        close();
    }

    void close()
    {
        if (pcap)
            pcap_close(pcap);
        pcap = nullptr;
        // the board is free for others once the adapter is closed
        lock.reset();
    }

    int send(const uint8_t* frame, unsigned len) override
    {
        if (!pcap)
            return -1;
        return pcap_sendpacket(pcap, frame, int(len)) == 0 ? 0 : -1;
    }

    unsigned send_all(const uint8_t* const* frames, const unsigned* lens, unsigned count) override
    {
        // one system call per batch: the capture socket is bound to the
        // interface, which is what pcap_sendpacket sends on as well
        constexpr unsigned MAX_BATCH = 64;
        unsigned done = 0;
        while (done < count) {
            const unsigned n = std::min(count - done, MAX_BATCH);
            struct mmsghdr messages[MAX_BATCH];
            struct iovec parts[MAX_BATCH];
            std::memset(messages, 0, sizeof(messages[0]) * n);
            for (unsigned i = 0; i < n; ++i) {
                parts[i].iov_base = const_cast<uint8_t*>(frames[done + i]);
                parts[i].iov_len = lens[done + i];
                messages[i].msg_hdr.msg_iov = &parts[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            if (!pcap)
                return done;
            int sent = sendmmsg(fd, messages, n, 0);
            if (sent <= 0)
                return done;
            for (unsigned i = 0; i < unsigned(sent); ++i)
                if (messages[i].msg_len != lens[done + i])
                    return done + i;
            done += unsigned(sent);
        }
        return done;
    }

    int next(const uint8_t** frame, unsigned* len) override
    {
        if (!pcap) {
            error = "adapter closed";
            return -1;
        }
        struct pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        int r = pcap_next_ex(pcap, &header, &data);
        while (r == 1 && header->caplen < header->len) {
            // cut at the capture length: handing on the rest as a whole
            // packet would deliver corrupted data
            diag() << "PcapAdapter::next: frame of " << header->len << " bytes exceeds the capture length "
                      << AdapterParams::CAPTURE_LENGTH << ", dropped" << std::endl;
            r = pcap_next_ex(pcap, &header, &data);
        }
        if (r == 1) {
            *frame = data;
            *len = header->caplen;
            // the kernel's stamp: when the board's frame came in, however
            // late the loop gets to it
            note_read_arrival(monotonic_from_realtime(int64_t(header->ts.tv_sec) * 1000000 + header->ts.tv_usec));
            return 1;
        }
        if (r == 0)
            return 0;
        if (r == PCAP_ERROR_BREAK)
            error = "end of capture";
        else
            error = pcap_geterr(pcap);
        return -1;
    }

    bool wait(int timeout_ms) override
    {
        struct pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, timeout_ms);
        // errors and hang-ups are for next() to report
        return r > 0;
    }

    int get_fd() const override { return fd; }
    std::string get_error() const override { return error; }
    unsigned get_mtu() const override { return mtu; }

private:
    pcap_t* pcap;
    int fd;
    unsigned mtu;
    std::unique_ptr<BoardLock> lock;
    std::string error;
};

void close_open_adapters()
{
    std::vector<PcapAdapter*> all;
    {
        std::lock_guard<std::mutex> lock(open_mutex);
        if (!open_adapters)
            return;
        all.assign(open_adapters->begin(), open_adapters->end());
        open_adapters->clear();
    }
    close_adapters_together(all.size(), [&](size_t i) { all[i]->close(); });
}

} // namespace

void close_adapters_together(size_t count, const std::function<void(size_t)>& close_one)
{
    if (count <= 1) {
        if (count)
            close_one(0);
        return;
    }
    std::vector<std::thread> closers;
    for (size_t i = 0; i < count; ++i) {
        try {
            closers.emplace_back(close_one, i);
        } catch (const std::exception&) {
            // no thread to spare: this one closes in turn
            close_one(i);
        }
    }
    for (std::thread& t : closers)
        t.join();
}

std::string describe_interface(const std::string& net_dir, const std::string& name)
{
    const std::string dir = net_dir + "/" + name;
    // a USB network function: its interface node sits below the USB device
    // node, which carries the manufacturer and product strings
    const std::string bus = read_line(dir + "/device/uevent");
    std::string manufacturer = read_line(dir + "/device/../manufacturer");
    std::string product = read_line(dir + "/device/../product");
    if (bus.find("DEVTYPE=usb_interface") != std::string::npos || !manufacturer.empty() || !product.empty()) {
        std::string d = manufacturer;
        if (!product.empty())
            d += (d.empty() ? "" : " ") + product;
        if (!d.empty())
            return d;
    }
    return read_line(dir + "/ifalias");
}

bool PcapAdapterSystem::list(std::vector<AdapterInfo>& adapters, std::string& error)
{
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* all = nullptr;
    if (pcap_findalldevs(&all, errbuf) != 0) {
        error = errbuf;
        return false;
    }
    for (pcap_if_t* d = all; d; d = d->next) {
        AdapterInfo info;
        info.name = d->name;
        info.description = describe_interface("/sys/class/net", d->name);
        if (info.description.empty() && d->description)
            info.description = d->description;
        adapters.push_back(info);
    }
    pcap_freealldevs(all);
    return true;
}

std::unique_ptr<Adapter> PcapAdapterSystem::open(const std::string& name, std::string& error)
{
    // one process per board: two would take each other's replies and write
    // each other's registers. A short wait lets two quick commands started
    // together both see the board.
    unsigned wait_ms = 0;
    {
        // only the first look waits; later ones (rechecks of a busy board)
        // must not stall the caller's loop
        std::lock_guard<std::mutex> guard(waited_mutex);
        if (waited.insert(name).second)
            wait_ms = LOCK_WAIT_MS;
    }
    std::unique_ptr<BoardLock> lock;
    std::string why;
    switch (BoardLock::take(board_lock_directory(), board_lock_name(name), wait_ms, lock, why)) {
    case BoardLock::Result::TAKEN:
        break;
    case BoardLock::Result::BUSY:
        error = "board " + name + " is " + why;
        return nullptr;
    case BoardLock::Result::FAILED:
        error = why;
        return nullptr;
    }
    return open_locked(name, error, std::move(lock));
}

std::unique_ptr<Adapter> PcapAdapterSystem::open_locked(const std::string& name, std::string& error,
                                                        std::unique_ptr<BoardLock> lock)
{
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_create(name.c_str(), errbuf);
    if (!p) {
        error = errbuf;
        return nullptr;
    }
    pcap_set_snaplen(p, AdapterParams::CAPTURE_LENGTH);
    pcap_set_promisc(p, 1);
    pcap_set_timeout(p, AdapterParams::READ_TIMEOUT_MS);
    // the ring holds whole frames of the capture length: the default of
    // 2 MiB would keep thousands of them resident for every open board
    pcap_set_buffer_size(p, AdapterParams::CAPTURE_BUFFER_SIZE);
    // hand every frame over at once: replies are waited for one by one
    pcap_set_immediate_mode(p, 1);
    int r = pcap_activate(p);
    if (r < 0) {
        error = std::string(pcap_statustostr(r)) + ": " + pcap_geterr(p);
        if (r == PCAP_ERROR_PERM_DENIED || r == PCAP_ERROR_PROMISC_PERM_DENIED)
            error += " (raw frames need root or the capabilities cap_net_raw and cap_net_admin:"
                     " setcap cap_net_raw,cap_net_admin+eip on the program)";
        pcap_close(p);
        return nullptr;
    }
    // our own outgoing frames would otherwise come back as input; telling
    // the kernel spares the copy and the wake-up for every frame we send
    pcap_setdirection(p, PCAP_D_IN);
    int ignore = 1;
    setsockopt(pcap_get_selectable_fd(p), SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
    // only the board's frames wake the main loop, not the link's other
    // traffic (neighbour discovery and the like); without the filter every
    // frame is still read and sorted out by the dispatch
    struct bpf_program program;
    if (pcap_compile(p, &program, "ether proto 0x0900 or ether proto 0x0901 or ether proto 0x08ff", 1,
                     PCAP_NETMASK_UNKNOWN) == 0) {
        pcap_setfilter(p, &program);
        pcap_freecode(&program);
    }
    if (pcap_setnonblock(p, 1, errbuf) != 0 || pcap_get_selectable_fd(p) < 0) {
        error = std::string("cannot wait on the adapter: ") + errbuf;
        pcap_close(p);
        return nullptr;
    }
    unsigned mtu = 1500;
    std::string m = read_line("/sys/class/net/" + name + "/mtu");
    if (!m.empty()) {
        try {
            unsigned long v = std::stoul(m);
            if (v >= 64 && v <= 65535)
                mtu = unsigned(v);
        } catch (const std::exception&) {
        }
    }
    return std::unique_ptr<Adapter>(new PcapAdapter(p, mtu, std::move(lock)));
}

} // namespace KORVIK
