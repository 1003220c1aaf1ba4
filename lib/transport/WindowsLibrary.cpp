#include "transport/WindowsLibrary.h"

#include <algorithm>
#include <iostream>
#include <list>
#include <sstream>
#include <stdexcept>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "board/MainLoop.h"
#include "board/Protocol.h"
#include "model/common/Diagnostics.h"
#include "transport/Capture.h"
#include "transport/NetlinkHotplug.h"
#include "transport/PcapAdapter.h"
#include "transport/WindowsEvUSBBoard.h"

namespace KORVIK {

namespace {

std::unique_ptr<HotplugSource> make_netlink_hotplug()
{
    try {
        return std::unique_ptr<HotplugSource>(new NetlinkHotplug());
    } catch (const std::exception& e) {
        // without it, new boards are only found by an explicit rescan
        diag() << "WindowsLibrary: no device-change notification: " << e.what() << std::endl;
        return nullptr;
    }
}

// Identification answers are looked for among this many frames.
constexpr unsigned IDENT_READS = 10;

} // namespace

struct WindowsLibrary::Probe {
    AdapterInfo info;
    std::unique_ptr<Adapter> adapter;
    unsigned frames = 0; ///< frames (and read errors) looked at
    gint64 deadline = 0; ///< monotonic
    sigc::connection input;
    sigc::connection timeout;
};

struct WindowsLibrary::Opening {
    std::unique_ptr<Probe> probe;
    std::string serial;
    std::string display_name;
    std::string mac_string;
    std::string chip;
    WindowsEvUSBBoard* board = nullptr; ///< built, not yet registered
    std::string error;                  ///< why it could not be built

    /// Builds the board; it belongs to no registry yet, so that a failure
    /// while it opens touches nothing shared.
    void build()
    {
        try {
            board = new WindowsEvUSBBoard(nullptr, std::move(probe->adapter), probe->info.name, serial, display_name,
                                          mac_string, chip);
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
};

// Builds boards on worker threads while the scan's thread goes on reading
// identification answers; it takes each board back as soon as it is built.
class WindowsLibrary::Openers {
public:
    Openers() : event(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Openers()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
            // what is not built yet stays unbuilt: its adapter closes with it
            queue.clear();
        }
        wake.notify_all();
        for (std::thread& t : threads)
            t.join();
        for (auto& o : ready)
            if (o->board) {
                o->board->reference();
                o->board->unreference();
            }
        if (event >= 0)
            ::close(event);
    }

    void add(std::unique_ptr<Opening> opening)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(std::move(opening));
            ++outstanding;
            if (idle == 0 && threads.size() < MAX_PARALLEL_OPENS) {
                threads.emplace_back(&Openers::work, this);
                return;
            }
        }
        wake.notify_one();
    }

    /// Readable when a board is ready.
    int get_fd() const { return event; }
    /// Openings added and not taken back yet.
    size_t get_outstanding() const { return outstanding; }

    std::vector<std::unique_ptr<Opening>> take_ready()
    {
        uint64_t count;
        if (::read(event, &count, sizeof count) < 0) {
            // nothing signalled yet: the list may still hold something
        }
        std::vector<std::unique_ptr<Opening>> taken;
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& o : ready)
            taken.push_back(std::move(o));
        ready.clear();
        outstanding -= taken.size();
        return taken;
    }

private:
    void work()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            while (queue.empty() && !stopping) {
                ++idle;
                wake.wait(lock);
                --idle;
            }
            if (queue.empty())
                return;
            std::unique_ptr<Opening> opening = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            opening->build();
            lock.lock();
            ready.push_back(std::move(opening));
            const uint64_t one = 1;
            if (::write(event, &one, sizeof one) < 0) {
                // the counter cannot overflow with a few dozen boards
            }
        }
    }

    int event;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::unique_ptr<Opening>> queue;
    std::vector<std::unique_ptr<Opening>> ready;
    std::vector<std::thread> threads;
    unsigned idle = 0;
    bool stopping = false;
    size_t outstanding = 0; ///< only touched by the scan's thread
};

WindowsLibrary::WindowsLibrary()
    : adapters(new PcapAdapterSystem()), hotplug(make_netlink_hotplug()), ident_timeout_ms(IDENT_TIMEOUT_MS)
{
    init();
}

WindowsLibrary::WindowsLibrary(std::unique_ptr<AdapterSystem> a, std::unique_ptr<HotplugSource> h,
                               unsigned ident_timeout)
    : adapters(std::move(a)), hotplug(std::move(h)), ident_timeout_ms(ident_timeout)
{
    init();
}

void WindowsLibrary::init()
{
    if (hotplug && hotplug->get_fd() >= 0)
        event_connection = main_context()->signal_io().connect(
            sigc::mem_fun(*this, &WindowsLibrary::new_device_handler), hotplug->get_fd(),
            Glib::IO_IN | Glib::IO_HUP);
    // the first scan belongs to construction, so the first caller of the
    // library already sees every board that is plugged in
    try {
        scan();
    } catch (const std::exception& e) {
        diag() << "WindowsLibrary: scan failed: " << e.what() << std::endl;
    }
}

WindowsLibrary::~WindowsLibrary()
{
    event_connection.disconnect();
    rescan_timer.disconnect();
    busy_timer.disconnect();
    for (auto& entry : open_retries)
        entry.second.disconnect();
    for (auto& entry : probes) {
        entry.second->input.disconnect();
        entry.second->timeout.disconnect();
    }
    // each capture socket waits for the kernel when it closes: all at once
    // rather than board by board as the registry empties
    std::vector<std::unique_ptr<Adapter>> open;
    for (auto& entry : boards)
        if (auto* board = dynamic_cast<WindowsEvUSBBoard*>(entry.second))
            if (!board->is_dead())
                open.push_back(board->release_adapter());
    close_adapters_together(open.size(), [&](size_t i) { open[i].reset(); });
}

WindowsEvUSBBoard* WindowsLibrary::find_adapter_board(const std::string& interface) const
{
    auto it = boards.find(interface);
    return it == boards.end() ? nullptr : dynamic_cast<WindowsEvUSBBoard*>(it->second);
}

WindowsEvUSBBoard* WindowsLibrary::find_adapter_board_by_display_name(const std::string& name) const
{
    for (const auto& entry : boards) {
        auto* b = dynamic_cast<WindowsEvUSBBoard*>(entry.second);
        if (b && b->get_display_name() == name)
            return b;
    }
    return nullptr;
}

void WindowsLibrary::scan()
{
    Openers workers;
    struct Scope {
        WindowsLibrary& library;
        Scope(WindowsLibrary& l, Openers* o) : library(l) { library.openers = o; }
        ~Scope()
        {
            // after an exception, the boards not registered are gone
            library.openers = nullptr;
            library.opening_names.clear();
        }
    } scope(*this, &workers);
    // asked for: the boards let go of are looked for again
    released.clear();
    start_probes();
    wait_probes();
}

void WindowsLibrary::start_probes()
{
    if (!adapters)
        return;
    std::vector<AdapterInfo> list;
    std::string error;
    if (!adapters->list(list, error)) {
        diag() << "pcap_findalldevs: " << error << std::endl;
        list.clear();
    }
    std::vector<const AdapterInfo*> candidates;
    for (const AdapterInfo& info : list) {
        if (!protocol::description_names_maker(info.description))
            continue;
        diag() << info.name << " (" << info.description << ")" << std::endl;
        if (find_adapter_board(info.name)) {
            diag() << "already registered, skipping..." << std::endl;
            continue;
        }
        if (probes.count(info.name))
            continue; // identification under way
        if (held_back.count(info.name)) {
            diag() << info.name << ": held back until its link changes" << std::endl;
            continue;
        }
        if (released.count(info.name))
            continue; // let go of: only an explicit scan asks again
        candidates.push_back(&info);
    }

    // opening an adapter waits some milliseconds for the kernel to set up
    // its capture: with many boards, open them side by side
    std::vector<std::unique_ptr<Adapter>> opened(candidates.size());
    std::vector<std::string> errors(candidates.size());
    auto open_one = [&](size_t i) {
        try {
            opened[i] = adapters->open(candidates[i]->name, errors[i]);
        } catch (const std::exception& e) {
            errors[i] = e.what();
        }
    };
    if (candidates.size() == 1) {
        open_one(0);
    } else {
        std::vector<std::thread> openers;
        for (size_t i = 0; i < candidates.size(); ++i)
            openers.emplace_back(open_one, i);
        for (std::thread& t : openers)
            t.join();
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
        const std::string& name = candidates[i]->name;
        const std::string::size_type in_use = errors[i].find(" is in use by ");
        if (opened[i]) {
            busy.erase(name);
            start_probe(*candidates[i], std::move(opened[i]));
        } else if (in_use != std::string::npos) {
            // another program's board: not touched, looked at again later
            busy[name] = errors[i].substr(in_use + 4);
            diag() << name << ": " << errors[i] << std::endl;
        } else {
            busy.erase(name);
            diag() << "pcap_open: unable to open adapter " << name << ": " << errors[i] << std::endl;
        }
    }
    // adapters that went away are no longer busy
    for (auto it = busy.begin(); it != busy.end();) {
        const bool listed = std::any_of(list.begin(), list.end(),
                                        [&](const AdapterInfo& info) { return info.name == it->first; });
        it = listed ? std::next(it) : busy.erase(it);
    }
    if (!busy.empty() && !busy_timer.connected())
        busy_timer = main_context()->signal_timeout().connect(
            [this] {
                rescan_now();
                return !busy.empty();
            },
            BUSY_RECHECK_MS);
}

void WindowsLibrary::start_probe(const AdapterInfo& info, std::unique_ptr<Adapter> adapter)
{
    std::unique_ptr<Probe> probe(new Probe);
    probe->info = info;
    // the board gets this adapter too: its frames reach a capture from here on
    probe->adapter = capture_adapter(std::move(adapter), info.name);
    std::vector<uint8_t> request = protocol::build_ident_request();
    if (probe->adapter->send(request.data(), unsigned(request.size())) != 0) {
        diag() << "pcap_sendpacket: error sending a packet" << std::endl;
        return;
    }
    probe->deadline = g_get_monotonic_time() + gint64(ident_timeout_ms) * 1000;
    // answers are handled as they come, so a hot-plug rescan never waits
    if (probe->adapter->get_fd() >= 0)
        probe->input = main_context()->signal_io().connect(
            sigc::bind(sigc::mem_fun(*this, &WindowsLibrary::on_probe_input), info.name),
            probe->adapter->get_fd(), Glib::IO_IN | Glib::IO_HUP | Glib::IO_ERR);
    probe->timeout = main_context()->signal_timeout().connect(
        sigc::bind(sigc::mem_fun(*this, &WindowsLibrary::on_probe_deadline), info.name), ident_timeout_ms);
    probes[info.name] = std::move(probe);
}

void WindowsLibrary::wait_probes()
{
    // one deadline for all: every adapter was asked at the same time; the
    // boards that answered open meanwhile
    while (!probes.empty() || (openers && openers->get_outstanding())) {
        std::vector<struct pollfd> fds;
        std::vector<std::string> names;
        gint64 next = G_MAXINT64;
        for (const auto& entry : probes) {
            next = std::min(next, entry.second->deadline);
            int fd = entry.second->adapter->get_fd();
            if (fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
                names.push_back(entry.first);
            }
        }
        if (openers)
            fds.push_back({openers->get_fd(), POLLIN, 0});
        const gint64 now = g_get_monotonic_time();
        const int wait_ms = next <= now ? 0 : int(std::min<gint64>((next - now + 999) / 1000, 1000));
        int ready = poll(fds.data(), fds.size(), wait_ms);
        for (size_t i = 0; ready > 0 && i < names.size(); ++i)
            if (fds[i].revents)
                on_probe_input(Glib::IO_IN, names[i]);
        std::vector<std::string> late;
        for (const auto& entry : probes)
            if (g_get_monotonic_time() >= entry.second->deadline)
                late.push_back(entry.first);
        for (const std::string& name : late)
            on_probe_deadline(name);
        if (openers && ready > 0 && fds.back().revents)
            for (auto& opening : openers->take_ready())
                complete_opening(*opening);
    }
}

bool WindowsLibrary::read_probe(Probe& probe, bool& answered, std::string& serial, uint8_t mac[6])
{
    answered = false;
    while (probe.frames < IDENT_READS) {
        const uint8_t* frame = nullptr;
        unsigned len = 0;
        int r = probe.adapter->next(&frame, &len);
        if (r == 0)
            return false;
        ++probe.frames;
        if (r < 0) {
            diag() << "pcap_next_ex: error reading the packets: " << probe.adapter->get_error() << std::endl;
            // a failing adapter may stay readable: look again at the next wake-up
            return probe.frames >= IDENT_READS;
        }
        if (protocol::parse_ident_answer(frame, len, serial, mac)) {
            answered = true;
            return true;
        }
    }
    return true;
}

std::unique_ptr<WindowsLibrary::Probe> WindowsLibrary::end_probe(const std::string& name)
{
    auto it = probes.find(name);
    if (it == probes.end())
        return nullptr;
    std::unique_ptr<Probe> probe = std::move(it->second);
    probes.erase(it);
    probe->input.disconnect();
    probe->timeout.disconnect();
    return probe;
}

bool WindowsLibrary::on_probe_input(Glib::IOCondition, std::string name)
{
    return settle_probe(name, false);
}

bool WindowsLibrary::on_probe_deadline(std::string name)
{
    return settle_probe(name, true);
}

bool WindowsLibrary::settle_probe(const std::string& name, bool deadline)
{
    auto it = probes.find(name);
    if (it == probes.end())
        return false;
    bool answered = false;
    std::string serial;
    uint8_t mac[6];
    // at the deadline the answer may still be waiting unread: take it
    if (!read_probe(*it->second, answered, serial, mac) && !deadline)
        return true;
    std::ostringstream why;
    if (deadline)
        why << "no identification answer within " << ident_timeout_ms << " ms";
    else
        why << "no identification answer among " << IDENT_READS << " frames";
    finish_probe(name, answered, serial, mac, why.str(), deadline);
    return false;
}

void WindowsLibrary::finish_probe(const std::string& name, bool answered, const std::string& serial,
                                  const uint8_t mac[6], const std::string& why_silent, bool deadline)
{
    std::unique_ptr<Probe> probe = end_probe(name);
    if (answered) {
        open_board(std::move(probe), serial, mac);
        return;
    }
    if (!deadline) {
        // the link carries frames (a board streaming status reports, for
        // one), so the answer may be among the next ones: ask again
        retry_open(name, name + ": " + why_silent);
        return;
    }
    diag() << name << ": " << why_silent << ", not asked again until its link changes" << std::endl;
    held_back.insert(name);
}

void WindowsLibrary::open_board(std::unique_ptr<Probe> probe, const std::string& serial, const uint8_t mac[6])
{
    std::unique_ptr<Opening> opening = prepare_opening(std::move(probe), serial, mac);
    if (!opening)
        return;
    if (openers) {
        openers->add(std::move(opening));
        return;
    }
    opening->build();
    complete_opening(*opening);
}

std::unique_ptr<WindowsLibrary::Opening> WindowsLibrary::prepare_opening(std::unique_ptr<Probe> probe,
                                                                         const std::string& serial,
                                                                         const uint8_t mac[6])
{
    const AdapterInfo& info = probe->info;
    std::string mac_string = protocol::format_mac_string(mac);
    diag() << "USB serial number is: " << serial << std::endl;

    std::list<std::string> names;
    for (const ChipTableEntry& row : chip_table())
        names.push_back(row.name);
    std::string chip = protocol::select_chip(info.description, names);
    if (chip.empty()) {
        std::string known;
        for (const std::string& n : names)
            known += " " + n;
        diag() << "Description: " << info.description << std::endl << "No matching chip found:" << known << std::endl;
        return nullptr;
    }
    const std::string display_name = serial;
    diag() << "Dispname " << display_name << std::endl;
    // boards of this scan that are still being opened count as found
    if (find_adapter_board_by_display_name(display_name) || opening_names.count(display_name)) {
        diag() << "Dispname " << display_name << " already found" << std::endl;
        return nullptr;
    }
    std::unique_ptr<Opening> opening(new Opening);
    opening->probe = std::move(probe);
    opening->serial = serial;
    opening->display_name = display_name;
    opening->mac_string = mac_string;
    opening->chip = chip;
    opening_names.insert(display_name);
    return opening;
}

void WindowsLibrary::complete_opening(Opening& opening)
{
    opening_names.erase(opening.display_name);
    const std::string& name = opening.probe->info.name;
    WindowsEvUSBBoard* board = opening.board;
    opening.board = nullptr;
    if (!board) {
        // this board only: the other adapters' boards still open
        retry_open(name, name + ": cannot open the board: " + opening.error);
        return;
    }
    board->set_registry(this);
    board->reference();
    if (!board->is_dead()) {
        open_failures.erase(name);
        add_board(board);
    } else {
        retry_open(name, name + ": cannot open the board: it stopped answering");
    }
    board->unreference();
}

void WindowsLibrary::retry_open(const std::string& name, const std::string& failure)
{
    held_back.insert(name);
    const unsigned failures = ++open_failures[name];
    if (failures >= OPEN_ATTEMPTS) {
        diag() << failure << "; gave up after " << failures << " tries, not asked again until its link changes"
               << std::endl;
        return;
    }
    const unsigned pause = OPEN_RETRY_MS << (failures - 1);
    diag() << failure << "; trying again in " << pause << " ms" << std::endl;
    open_retries[name].disconnect();
    open_retries[name] = main_context()->signal_timeout().connect(
        [this, name] {
            open_retries.erase(name);
            held_back.erase(name);
            rescan_now();
            return false;
        },
        pause);
}

bool WindowsLibrary::new_device_handler(Glib::IOCondition)
{
    diag() << "new_device_handler" << std::endl;
    std::vector<std::string> removed;
    bool changed = hotplug ? hotplug->read_changes(removed) : false;
    std::vector<std::string> links;
    if (changed && hotplug && !hotplug->take_changed_links(links)) {
        // the source cannot say which links changed: any may answer now
        held_back.clear();
        open_failures.clear();
    }
    for (const std::string& name : links) {
        held_back.erase(name);
        open_failures.erase(name);
    }
    for (const std::string& name : removed) {
        held_back.erase(name);
        released.erase(name);
        open_failures.erase(name);
        auto retry = open_retries.find(name);
        if (retry != open_retries.end()) {
            retry->second.disconnect();
            open_retries.erase(retry);
        }
        end_probe(name);
        // an unplugged adapter: its board leaves now instead of at its next failed read
        if (WindowsEvUSBBoard* board = find_adapter_board(name))
            board->leave_registry();
    }
    if (changed || !removed.empty()) {
        // one rescan per burst: every message of the burst restarts the wait;
        // a board that goes may have hidden another with its serial
        rescan_timer.disconnect();
        rescan_timer = main_context()->signal_timeout().connect(sigc::mem_fun(*this, &WindowsLibrary::rescan_now),
                                                                rescan_delay_ms);
    }
    return true;
}

std::list<std::string> WindowsLibrary::release_unopened_boards()
{
    std::list<std::string> gone = Library::release_unopened_boards();
    std::vector<std::string> identifying;
    for (const auto& probe : probes)
        if (!find_adapter_board(probe.first))
            identifying.push_back(probe.first);
    for (const std::string& name : identifying) {
        end_probe(name);
        gone.push_back(name);
    }
    for (auto& retry : open_retries) {
        retry.second.disconnect();
        gone.push_back(retry.first);
    }
    open_retries.clear();
    released.insert(gone.begin(), gone.end());
    return gone;
}

bool WindowsLibrary::rescan_now()
{
    try {
        scan_begin();
        start_probes();
        scan_end();
    } catch (const std::exception& e) {
        // must not reach the main loop
        diag() << "new_device_handler: scan failed: " << e.what() << std::endl;
    }
    return false;
}

} // namespace KORVIK
