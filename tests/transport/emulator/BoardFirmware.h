#pragma once

// The firmware of one evaluation board as seen from the host: identification,
// every vendor report, the flash unlock machine, register space, channel
// access block, state byte, status reports and reprogramming jobs, with
// switches that make it misbehave. Pure: frames in, frames out.

#include <cstdint>
#include <string>
#include <vector>

namespace korvik_emu {

using Frame = std::vector<uint8_t>;

class BoardFirmware {
public:
    /// `mac` is the source of every frame the board sends (the host adapter's MAC).
    BoardFirmware(const std::string& serial, const uint8_t mac[6]);

    /// Handles one frame from the host; frames to send back are appended.
    void receive(const uint8_t* frame, unsigned len, std::vector<Frame>& out);
    /// The next periodic status report (advances the tick counter and the
    /// reprogramming job); empty while silent.
    Frame status_frame();

    /// Frames the board sends on its own.
    Frame radio_record_frame(int16_t frequency_offset, int8_t rssi, const std::vector<uint8_t>& data) const;
    Frame net_frame(const std::vector<uint8_t>& data) const;

    // Identity.
    std::string serial;
    uint8_t mac[6];

    // Firmware state.
    std::vector<uint8_t> registers = std::vector<uint8_t>(65536, 0);
    uint16_t flash[256];
    uint8_t flash_address = 0;
    uint8_t flash_status = 0;
    bool flash_write_enabled = false;
    uint8_t chacc[21];
    uint8_t state = 0;
    uint8_t report10 = 0;
    uint8_t report11 = 0x5A;
    uint16_t read_address = 0;

    // Status reports.
    uint16_t ticks = 0;
    uint16_t ticks_per_status = 1000;
    uint8_t progstate = 0;
    uint8_t progdetail = 0;

    // Reprogramming jobs 1 and 2: status reports spent in progress, then the
    // outcome code (1 succeeded, 2 failed, 0 never finishes).
    unsigned job_length = 2;
    uint8_t job_outcome[2] = {1, 1};
    int running_job = 0;
    unsigned job_reports = 0;

    // Fault injection.
    unsigned ident_junk_frames = 0;   ///< unrelated frames before the identification answer
    bool answer_ident = true;
    unsigned unexpected_replies = 0;  ///< gets answered first with a reply of another id
    unsigned short_replies = 0;       ///< gets answered first with a reply one byte short
    unsigned dropped_replies = 0;     ///< gets not answered at all
    unsigned duplicate_replies = 0;   ///< gets answered twice
    unsigned misaddressed_replies = 0; ///< register reads answered first for the next address
    unsigned statuses_before_replies = 0; ///< gets answered first with a status report
    bool silent = false;              ///< answers nothing, reports nothing
    unsigned flash_writes_before_silence = 0; ///< falls silent after this many flash words (0: never)
    unsigned answer_delay_us = 0;     ///< a slow board: each answer leaves this late (veth player only)

    // What the host did.
    std::vector<uint8_t> state_history;            ///< every state byte written
    std::vector<std::vector<uint8_t>> net_packets; ///< payloads of 0x08FF frames
    std::vector<std::vector<uint8_t>> net_destinations;
    unsigned vendor_requests = 0;
    unsigned get_requests = 0;                     ///< of them gets, the identification's included

private:
    Frame vendor_frame(const std::vector<uint8_t>& packet) const;
    void handle_set(uint8_t id, const uint8_t* data, unsigned dlen);
    bool reply_data(uint8_t id, std::vector<uint8_t>& data);
    void flash_control(uint8_t v);
};

} // namespace korvik_emu
