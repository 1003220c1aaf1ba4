// Reads arbitrary bytes as a capture file and, when libpcap takes them, replays
// the recording as a board: the reader, the recording of every frame, the
// chip guess and the replayed board's answers while it opens.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "board/ReplayBoard.h"
#include "model/common/Diagnostics.h"
#include "transport/Capture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        KORVIK::set_diagnostic_sink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    KORVIK::RecordingBuilder builder;
    std::string error;
    if (!KORVIK::read_capture_bytes(data, size, "fuzz", builder, error))
        return 0;
    const KORVIK::Recording& r = builder.get();
    const std::vector<std::pair<std::string, std::set<uint16_t>>> chips = {
        {"A", {0x10, 0x11}}, {"B", {0x10, 0x11, 0x12}}};
    (void)KORVIK::infer_chip(r.read_addresses, chips);
    auto* board = new KORVIK::ReplayBoard(nullptr, r, "RC1200", "fuzz0", "fuzz");
    board->reference();
    board->unreference();
    return 0;
}
