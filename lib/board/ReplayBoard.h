#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include "board/EvUSBNetBoard.h"
#include "board/Recording.h"

namespace KORVIK {

/// A recorded board played back: it answers the host's vendor reports from
/// what the recording holds (identity, NV sector, registers as last written
/// or read, state byte, channel-access block), takes writes as a board
/// would, and sends the recorded status reports and received packets again
/// at their recorded times after it was made. A read of something never
/// recorded gets the simulated default and a diagnostic line.
///
/// The requests travel the real protocol path of a net board; only the
/// wire is replaced by the answering code here, so the board reads and
/// parses its NV sector and registers exactly as a live one does.
class ReplayBoard : public EvUSBNetBoard {
public:
    /// `chip` names the chip model; reads the NV sector and the operating
    /// registers as a live board does when it is found, then starts playback.
    ReplayBoard(BoardRegistry* registry, const Recording& recording, const std::string& chip,
                const std::string& interface, const std::string& display_name);
    ~ReplayBoard() override;

    unsigned get_boardflags() override;
    void leave_registry() override;
    bool is_dead() override;
    bool is_net_up() override;

    void wait_input() override;
    int queue_vendor_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) override;
    /// Packets sent to a recorded board go nowhere: accepted and counted.
    int queue_net_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) override;

    /// Recorded events (status reports and packets) not played yet.
    size_t get_pending_events() const;

private:
    void answer_get(uint8_t id);
    void apply_set(uint8_t id, const uint8_t* d, unsigned dlen);
    void send_to_host(uint8_t id, const uint8_t* data, unsigned dlen);
    uint8_t read_register(uint16_t address);
    bool on_timer();
    void arm();

    bool dead = false;
    std::vector<uint8_t> registers;
    std::vector<bool> register_known;
    std::set<uint16_t> reported_registers;
    uint16_t flash[NV_WORDS];
    bool flash_known[NV_WORDS];
    bool flash_gap_reported = false;
    uint8_t flash_address = 0;
    uint8_t flash_state = 0;
    uint16_t read_address = 0;
    uint8_t ethstate = 0;
    uint8_t report11 = 0;
    uint8_t chacc_block[21];

    std::vector<Recording::Status> statuses;
    std::vector<Recording::Packet> packets;
    size_t next_status = 0;
    size_t next_packet = 0;
    int64_t start_us = 0;
    sigc::connection timer;
};

} // namespace KORVIK
