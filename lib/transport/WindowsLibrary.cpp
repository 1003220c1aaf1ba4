#include "transport/WindowsLibrary.h"

#include <iostream>
#include <list>
#include <stdexcept>

#include "board/MainLoop.h"
#include "board/Protocol.h"
#include "model/common/Diagnostics.h"
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
constexpr int IDENT_READS = 10;

} // namespace

WindowsLibrary::WindowsLibrary()
    : adapters(new PcapAdapterSystem()), hotplug(make_netlink_hotplug())
{
    init();
}

WindowsLibrary::WindowsLibrary(std::unique_ptr<AdapterSystem> a, std::unique_ptr<HotplugSource> h)
    : adapters(std::move(a)), hotplug(std::move(h))
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
    // library already sees every board that is plugged in; one faulty board
    // must not keep the library from coming up
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
    if (!adapters)
        return;
    std::vector<AdapterInfo> list;
    std::string error;
    if (!adapters->list(list, error)) {
        diag() << "pcap_findalldevs: " << error << std::endl;
        list.clear();
    }
    for (const AdapterInfo& info : list)
        probe(info);
}

void WindowsLibrary::probe(const AdapterInfo& info)
{
    if (!protocol::description_names_maker(info.description))
        return;
    diag() << info.name << " (" << info.description << ")" << std::endl;
    if (find_adapter_board(info.name)) {
        diag() << "already registered, skipping..." << std::endl;
        return;
    }
    std::string error;
    std::unique_ptr<Adapter> adapter = adapters->open(info.name, error);
    if (!adapter) {
        diag() << "pcap_open: unable to open adapter " << info.name << ": " << error << std::endl;
        return;
    }
    std::vector<uint8_t> request = protocol::build_ident_request();
    if (adapter->send(request.data(), unsigned(request.size())) != 0) {
        diag() << "pcap_sendpacket: error sending a packet" << std::endl;
        return;
    }
    std::string serial;
    uint8_t mac[6];
    bool found = false;
    for (int i = 0; i < IDENT_READS && !found; ++i) {
        const uint8_t* frame = nullptr;
        unsigned len = 0;
        int r = adapter->wait(AdapterParams::READ_TIMEOUT_MS) ? adapter->next(&frame, &len) : 0;
        if (r == 0)
            diag() << "pcap_next_ex: timeout" << std::endl;
        else if (r < 0)
            diag() << "pcap_next_ex: error reading the packets: " << adapter->get_error() << std::endl;
        else
            found = protocol::parse_ident_answer(frame, len, serial, mac);
    }
    if (!found)
        return;
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
        return;
    }
    const std::string display_name = serial;
    diag() << "Dispname " << display_name << std::endl;
    if (find_adapter_board_by_display_name(display_name)) {
        diag() << "Dispname " << display_name << " already found" << std::endl;
        return;
    }
    auto* board = new WindowsEvUSBBoard(this, std::move(adapter), info.name, serial, display_name, mac_string, chip);
    board->reference();
    if (!board->is_dead())
        add_board(board);
    board->unreference();
}

bool WindowsLibrary::new_device_handler(Glib::IOCondition)
{
    diag() << "new_device_handler" << std::endl;
    std::vector<std::string> removed;
    bool changed = hotplug ? hotplug->read_changes(removed) : false;
    for (const std::string& name : removed) {
        // an unplugged adapter: its board leaves now instead of at its next failed read
        if (WindowsEvUSBBoard* board = find_adapter_board(name))
            board->leave_registry();
    }
    if (changed) {
        // one rescan per burst: every message of the burst restarts the wait
        rescan_timer.disconnect();
        rescan_timer = main_context()->signal_timeout().connect(sigc::mem_fun(*this, &WindowsLibrary::rescan_now),
                                                                rescan_delay_ms);
    }
    return true;
}

bool WindowsLibrary::rescan_now()
{
    try {
        scan_begin();
        scan();
        scan_end();
    } catch (const std::exception& e) {
        // must not reach the main loop
        diag() << "new_device_handler: scan failed: " << e.what() << std::endl;
    }
    return false;
}

} // namespace KORVIK
