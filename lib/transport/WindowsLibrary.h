#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include <glib.h>
#include <glibmm/main.h>

#include "registry/Library.h"
#include "transport/Adapter.h"

namespace KORVIK {

class WindowsEvUSBBoard;

/// The registry with board discovery: finds boards among the host's network
/// adapters and rescans when adapters come or go. Library::instance() creates
/// the one process-wide object, which scans once during construction.
///
/// Identification runs on all candidate adapters at once: each gets its
/// request, and the answers (or the deadline) are handled as they come.
/// An adapter that stays silent is not asked again until its link changes
/// (goes away, comes up, is renamed); one whose frames held no answer (a
/// board streaming status reports) and a board that fails while it opens
/// are asked again after growing pauses first.
/// During a blocking scan the boards that answered open side by side, each
/// on a worker thread of the scan (a board's opening is a few dozen report
/// exchanges, mostly spent waiting), and enter the registry on the calling
/// thread as each one is ready.
class WindowsLibrary : public Library {
public:
    /// How long an adapter has to answer the identification request.
    static constexpr unsigned IDENT_TIMEOUT_MS = 10 * AdapterParams::READ_TIMEOUT_MS;

    /// Adapters through libpcap, hot-plug through a netlink socket.
    WindowsLibrary();
    /// Given adapter system and hot-plug source (either may be null: no
    /// adapters, no hot-plug). Scans once.
    WindowsLibrary(std::unique_ptr<AdapterSystem> adapters, std::unique_ptr<HotplugSource> hotplug,
                   unsigned ident_timeout_ms = IDENT_TIMEOUT_MS);
    ~WindowsLibrary() override;

    /// Identifies the adapters that are not registered yet, all at once, and
    /// registers their boards; returns when every identification has ended
    /// (within one deadline). A board that fails while it opens is reported
    /// with its adapter's name and the scan goes on.
    void scan() override;

    /// Hot-plug handler: boards whose adapter went away leave the registry;
    /// news that may reveal a board, or lose one, schedules one rescan for
    /// the whole burst. That rescan does not wait for answers.
    bool new_device_handler(Glib::IOCondition condition);

    /// Quiet time after the last hot-plug message before the rescan runs.
    void set_rescan_delay_ms(unsigned ms) { rescan_delay_ms = ms; }
    bool is_rescan_pending() const { return rescan_timer.connected(); }
    /// Adapters whose identification is under way.
    size_t get_identifying_count() const { return probes.size(); }
    /// Their names, for diagnostics.
    std::string get_identifying_names() const
    {
        std::string names;
        for (const auto& p : probes)
            names += (names.empty() ? "" : " ") + p.first;
        return names;
    }
    /// Boards a blocking scan opens at the same time, at most.
    static constexpr unsigned MAX_PARALLEL_OPENS = 16;
    /// Whether this adapter gave no answer or a failing board and waits for
    /// a link change.
    bool is_held_back(const std::string& interface) const { return held_back.count(interface) != 0; }

    std::map<std::string, std::string> get_busy_adapters() const override { return busy; }

    /// Also ends the identifications and retries under way on adapters
    /// without a registered board (they hold the board locks too); the
    /// adapters let go of are asked again by an explicit scan only, not by
    /// the hot-plug news their own closing makes.
    std::list<std::string> release_unopened_boards() override;
    bool is_released(const std::string& interface) const { return released.count(interface) != 0; }

    /// The registered adapter board with this interface name or display name.
    WindowsEvUSBBoard* find_adapter_board(const std::string& interface) const;
    WindowsEvUSBBoard* find_adapter_board_by_display_name(const std::string& name) const;

private:
    struct Probe;
    struct Opening;
    class Openers;

    void init();
    bool rescan_now();
    /// Sends the identification request to each new candidate adapter.
    void start_probes();
    void start_probe(const AdapterInfo& info, std::unique_ptr<Adapter> adapter);
    /// Runs the identifications under way to their end, without the main loop.
    void wait_probes();
    bool on_probe_input(Glib::IOCondition condition, std::string name);
    bool on_probe_deadline(std::string name);
    /// Reads what the probe got; ends it with an answer, at the deadline,
    /// or when it read enough frames without one. False once it has ended.
    bool settle_probe(const std::string& name, bool deadline);
    /// Reads the frames waiting on a probe's adapter; true when it ended.
    bool read_probe(Probe& probe, bool& answered, std::string& serial, uint8_t mac[6]);
    /// Takes the probe out of the running ones and closes its watches.
    std::unique_ptr<Probe> end_probe(const std::string& name);
    void open_board(std::unique_ptr<Probe> probe, const std::string& serial, const uint8_t mac[6]);
    /// A board that answered but failed while it opened (a reply lost or
    /// out of order) is asked again after a growing pause; after
    /// OPEN_ATTEMPTS it waits for its link to change. `failure` is the diagnostic line's
    /// start ("kb0: cannot open the board: ...").
    void retry_open(const std::string& name, const std::string& failure);
    /// The checks before a board is built (chip, display name); null when
    /// the board is not to be built.
    std::unique_ptr<Opening> prepare_opening(std::unique_ptr<Probe> probe, const std::string& serial,
                                             const uint8_t mac[6]);
    /// Registers a board built by an opening, or holds its adapter back.
    void complete_opening(Opening& opening);
    /// Ends a probe: opens its board when it answered; an adapter silent
    /// until the deadline is held back, one whose frames held no answer
    /// is asked again.
    void finish_probe(const std::string& name, bool answered, const std::string& serial, const uint8_t mac[6],
                      const std::string& why_silent, bool deadline);

    std::unique_ptr<AdapterSystem> adapters;
    std::unique_ptr<HotplugSource> hotplug;
    sigc::connection event_connection;
    sigc::connection rescan_timer;
    unsigned rescan_delay_ms = 200;
    unsigned ident_timeout_ms;
    std::map<std::string, std::unique_ptr<Probe>> probes;
    std::set<std::string> held_back;
    /// Adapters whose boards the program let go of; see release_unopened_boards().
    std::set<std::string> released;
    /// Workers of the blocking scan under way; null outside one.
    Openers* openers = nullptr;
    /// Display names of the boards being opened.
    std::set<std::string> opening_names;
    std::map<std::string, unsigned> open_failures;
    /// Adapters whose board another process holds, and who; asked again
    /// every BUSY_RECHECK_MS so the board appears once it is let go.
    std::map<std::string, std::string> busy;
    sigc::connection busy_timer;
    std::map<std::string, sigc::connection> open_retries;

public:
    /// Tries at opening a board that answers before it waits for its link.
    static constexpr unsigned OPEN_ATTEMPTS = 6;
    /// Pause before the first retry; it doubles with every failed one.
    static constexpr unsigned OPEN_RETRY_MS = 250;
    static constexpr unsigned BUSY_RECHECK_MS = 1000;
};

} // namespace KORVIK
