#pragma once

#include <cstdint>

#include <sigc++/sigc++.h>

#include <korvik/USBDeviceStatus.h>

#include "board/ClockEstimator.h"

namespace KORVIK {

class EvUSBBoard;

/// A board's status reports: the extended tick counter and clock estimate,
/// the chip reprogramming jobs driven by the board's state byte, and the
/// continuous-wave mode those jobs must not disturb. One per board; it talks
/// back to its board only through the board's state byte, model and signals.
class StatusHandler {
public:
    explicit StatusHandler(EvUSBBoard& board) : board(board) {}
    ~StatusHandler() { reprogram_timer.disconnect(); }
    StatusHandler(const StatusHandler&) = delete;
    StatusHandler& operator=(const StatusHandler&) = delete;

    /// Clock estimate, status signal, then one step of the reprogramming machine.
    void handle_status(USBDeviceStatus s);
    /// Requests chip reprogramming jobs: bit 0 job 1, bit 1 job 2.
    void start_reprogramming(unsigned mask);
    void set_transmit_cw(bool on);
    bool is_transmit_cw() const { return transmit_cw; }
    int get_reprogram_state() const { return reprogram_state; }
    unsigned get_pending_reprogram() const { return pending_reprogram; }
    uint64_t get_extended_ticks() const { return extended_ticks; }
    const ClockEstimator& get_clock_estimator() const { return clock; }
    bool reprogram_timer_running() const { return reprogram_timer.connected(); }
    /// Ends the running job's grace period at once, as if its timeout had fired.
    void expire_reprogram_timer() { reprogram_timer.disconnect(); }

private:
    /// Reprogramming state machine for one status code.
    void step_reprogramming(uint8_t code);
    /// Starts the lowest pending job; false when none is pending.
    bool start_pending_job();
    /// Records the result of the running job in its autorange result.
    void set_job_result(int result);
    /// Tells the model the results once no job is pending any more.
    void finish_autoranging();
    bool reprogram_timer_expired() const;

    EvUSBBoard& board;
    uint32_t pending_reprogram = 0;
    int reprogram_state = 0;
    bool transmit_cw = false;
    ClockEstimator clock;
    uint64_t extended_ticks = 0;
    sigc::connection reprogram_timer;
    /// Monotonic time (us) at which the running job counts as timed out even
    /// when nobody has pumped the main context to fire reprogram_timer.
    int64_t reprogram_deadline = 0;
    int autorange_result_a = -3;
    int autorange_result_b = -3;
};

} // namespace KORVIK
