#pragma once

// Capture files of board traffic: every frame the library sends to or
// receives from a board, with its time, written through libpcap's dump
// functions as Ethernet frames (the libpcap here writes the classic pcap
// format, which tcpdump and Wireshark read whatever the file is called),
// and read back into a Recording for replay.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "board/Recording.h"
#include "transport/Adapter.h"

namespace KORVIK {

struct CaptureOptions {
    /// Adds to an existing capture file instead of starting it anew (its
    /// link type must be Ethernet).
    bool append = false;
    /// Only this board's frames, the board given by interface name or serial.
    /// Frames are held in memory until the board shows: a frame on that
    /// interface, or an identification answer with that serial (a board
    /// found by its serial is known only after discovery, whose frames
    /// belong in the capture); then its held frames are written and the
    /// others dropped.
    std::string board;
};

/// Starts the process-wide capture. "%i" in `path` is replaced by the
/// board's interface name, giving one file per board; otherwise all boards
/// share one file. Replaces a capture that runs. False with `error` when the
/// file cannot be written.
bool start_capture(const std::string& path, const CaptureOptions& options, std::string& error);
/// Ends the capture and closes its files.
void stop_capture();
bool is_capturing();
/// Frames written since the capture started.
uint64_t get_captured_frames();
/// Starts the capture KORVIK_CAPTURE names, appending, if the variable is
/// set and no capture runs (once per process).
void start_capture_from_environment();

/// Wraps an adapter so that its frames reach the capture.
std::unique_ptr<Adapter> capture_adapter(std::unique_ptr<Adapter> adapter, const std::string& interface);

/// Largest capture file replay reads, and most frames it takes from one.
constexpr uint64_t MAX_CAPTURE_BYTES = 256ull << 20;
constexpr uint64_t MAX_CAPTURE_FRAMES = 4000000;

/// Reads a capture file (pcap or pcapng, Ethernet link type) into `builder`.
/// False with `error` when the file is refused (unreadable, not a capture,
/// another link type, too large); a damaged tail ends the reading with a
/// diagnostic line and keeps what came before.
bool read_capture_file(const std::string& path, RecordingBuilder& builder, std::string& error);
/// The same from bytes in memory (`name` for the messages).
bool read_capture_bytes(const uint8_t* data, size_t len, const std::string& name, RecordingBuilder& builder,
                        std::string& error);

} // namespace KORVIK
