// Status reports of a board: clock estimate, chip reprogramming jobs and the
// board state byte (stopped, running, continuous wave).
#include <cmath>
#include <iomanip>
#include <iostream>
#include <limits>

#include <glib.h>

#include "board/StatusHandler.h"
#include "board/EvUSBBoard.h"
#include "board/MainLoop.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

namespace {

enum StateByte : uint8_t {
    STATE_STOPPED = 0x00,
    STATE_JOB1 = 0x04,
    STATE_JOB2 = 0x05,
    STATE_RUNNING = 0x10,
    STATE_RUNNING_CW = 0x30,
};

enum ReprogramState { REPROG_IDLE = 0, REPROG_JOB1 = 1, REPROG_JOB2 = 2, REPROG_STOPPING = 4 };

enum AutorangeResult { AUTORANGE_NOT_RUN = -3, AUTORANGE_TIMEOUT = -2, AUTORANGE_FAILED = -1, AUTORANGE_OK = 0 };

constexpr unsigned REPROGRAM_TIMEOUT_MS = 2000;
constexpr unsigned TICK_JITTER = 0x1000;

} // namespace

void StatusHandler::handle_status(USBDeviceStatus s)
{
    // extend the 16-bit tick counter; a step back of up to TICK_JITTER is jitter
    uint64_t ticks = (extended_ticks & ~uint64_t(0xFFFF)) | s.ticks;
    bool wrapped = false;
    if (extended_ticks > ticks + TICK_JITTER) {
        ticks += 0x10000;
        wrapped = true;
    }
    extended_ticks = ticks;

    double x = double(ticks);
    double arrival = s.time_sec + s.time_usec / 1000000.0;
    clock.update(x, arrival);
    clock.solve();
    double p = clock.predict(x);
    // a broken fit must not produce an unrepresentable time: keep the arrival time
    if (std::isfinite(p) && p >= 0.0 && p < double(std::numeric_limits<int32_t>::max())) {
        double whole = std::trunc(p);
        s.time_sec = int32_t(whole);
        s.time_usec = int32_t(std::trunc((p - whole) * 1000000.0));
    }

    if (wrapped) {
        diag() << "RLS Estimator " << board.get_display_name() << ": frequency " << std::setprecision(12)
                  << clock.get_slope() << " offset " << std::setprecision(16) << clock.get_intercept()
                  << std::setprecision(6) << " jiff " << ticks << std::endl;
    }

    // listeners get this status before the exchanges its handling starts; a
    // status that arrives during those waits until they are over
    board.signal_status.emit(s);
    step_reprogramming(s.progstate);
}

bool StatusHandler::reprogram_timer_expired() const
{
    // The main-loop timeout ends the job's grace period; the deadline covers
    // callers that do not pump the main context while reprogramming.
    return !reprogram_timer.connected() || g_get_monotonic_time() >= reprogram_deadline;
}

bool StatusHandler::start_pending_job()
{
    unsigned bit = pending_reprogram & 1 ? 1 : pending_reprogram & 2 ? 2 : 0;
    if (!bit)
        return false;
    reprogram_state = int(bit);
    pending_reprogram &= ~bit;
    board.evusb_set_ethstate(bit == 1 ? STATE_JOB1 : STATE_JOB2);
    reprogram_timer.disconnect();
    reprogram_timer = main_context()->signal_timeout().connect([] { return false; }, REPROGRAM_TIMEOUT_MS);
    reprogram_deadline = g_get_monotonic_time() + gint64(REPROGRAM_TIMEOUT_MS) * 1000;
    return true;
}

void StatusHandler::set_job_result(int result)
{
    if (reprogram_state == REPROG_JOB1)
        autorange_result_a = result;
    else if (reprogram_state == REPROG_JOB2)
        autorange_result_b = result;
}

void StatusHandler::finish_autoranging()
{
    if ((pending_reprogram & 3) == 0 && board.get_model())
        board.get_model()->terminate_autoranging(autorange_result_a, autorange_result_b);
}

void StatusHandler::step_reprogramming(uint8_t code)
{
    switch (code) {
    case 1:
    case 2:
        if (reprogram_state == REPROG_IDLE) {
            board.evusb_set_ethstate(STATE_STOPPED);
            return;
        }
        set_job_result(code == 1 ? AUTORANGE_OK : AUTORANGE_FAILED);
        reprogram_state = REPROG_IDLE;
        reprogram_timer.disconnect();
        finish_autoranging();
        diag() << (code == 1 ? "Chip reprogramming succeeded" : "Chip reprogramming failed") << std::endl;
        board.evusb_set_ethstate(STATE_STOPPED);
        return;
    case 4:
    case 5:
    case 8:
    case 9:
        if (reprogram_state == REPROG_IDLE || !reprogram_timer_expired())
            return;
        set_job_result(AUTORANGE_TIMEOUT);
        reprogram_state = REPROG_IDLE;
        reprogram_timer.disconnect();
        finish_autoranging();
        diag() << "Chip reprogramming timed out" << std::endl;
        board.evusb_set_ethstate(STATE_STOPPED);
        return;
    default:
        break;
    }
    // code 0 (stopped and idle) or any running state
    if (code == 0 && reprogram_state == REPROG_STOPPING)
        reprogram_state = REPROG_IDLE;
    if (reprogram_state != REPROG_IDLE)
        return;
    if (start_pending_job())
        return;
    if (code == 0)
        board.evusb_set_ethstate(transmit_cw ? STATE_RUNNING_CW : STATE_RUNNING);
}

void StatusHandler::start_reprogramming(unsigned mask)
{
    if ((pending_reprogram & 3) == 0) {
        autorange_result_a = AUTORANGE_NOT_RUN;
        autorange_result_b = AUTORANGE_NOT_RUN;
    }
    pending_reprogram |= mask & 3;
    diag() << "Start Chip reprogramming" << std::endl;
}

void StatusHandler::set_transmit_cw(bool on)
{
    if (on == transmit_cw)
        return;
    transmit_cw = on;
    diag() << "set_transmit_cw: " << on << "(reprogram_inprogress " << reprogram_state << " transmit_cw " << on
              << ")" << std::endl;
    // while a job runs the mode is applied when the board is back at code 0
    if (reprogram_state == REPROG_IDLE && pending_reprogram == 0)
        board.evusb_set_ethstate(on ? STATE_RUNNING_CW : STATE_RUNNING);
    board.signal_changed_transmit_cw.emit();
}

} // namespace KORVIK
