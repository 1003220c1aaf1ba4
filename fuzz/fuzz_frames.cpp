// Feeds arbitrary frames into a net board: dispatch, vendor packets, status
// reports, radio records, and report exchanges that consume the replies.
// Input: a sequence of chunks, each a one-byte operation, a one-byte length
// and that many frame bytes.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "board/EvUSBNetBoard.h"
#include "board/Protocol.h"
#include "transport/NetlinkHotplug.h"

namespace {

const uint8_t BOARD_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

/// A net board whose adapter accepts every frame and delivers the fuzz input.
class FuzzBoard : public KORVIK::EvUSBNetBoard {
public:
    FuzzBoard() : EvUSBNetBoard(nullptr, "1234567", "fuzz0", "fuzz", "020000000001") {}

    void wait_input() override
    {
        if (input.empty())
            return;
        std::vector<uint8_t> frame = std::move(input.front());
        input.pop_front();
        handle_frame(frame.data(), unsigned(frame.size()));
    }
    int queue_vendor_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t*) override
    {
        return build_vendor_frame(data, len).empty() ? -1 : 0;
    }
    int queue_net_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) override
    {
        return build_net_frame(data, len, mac).empty() ? -1 : 0;
    }
    bool is_dead() override { return false; }

    std::deque<std::vector<uint8_t>> input;

protected:
    bool is_input_closed() override { return input.empty(); }
};

struct Chunk {
    uint8_t op;
    std::vector<uint8_t> frame;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Chunk> chunks;
    for (size_t i = 0; i + 2 <= size;) {
        Chunk c;
        c.op = data[i];
        size_t len = data[i + 1];
        i += 2;
        if (len > size - i)
            len = size - i;
        c.frame.assign(data + i, data + i + len);
        // most frames should reach the vendor path: let the op byte fill in
        // a header that passes the dispatch filters
        if (c.op & 0x80 && c.frame.size() >= 14) {
            static const uint16_t types[4] = {KORVIK::protocol::ETHERTYPE_VENDOR, KORVIK::protocol::ETHERTYPE_RADIO,
                                              KORVIK::protocol::ETHERTYPE_NET, KORVIK::protocol::ETHERTYPE_VENDOR};
            uint16_t t = types[c.op >> 5 & 3];
            for (int k = 0; k < 6; ++k) {
                c.frame[k] = 0xFF;
                c.frame[6 + k] = BOARD_MAC[k];
            }
            c.frame[12] = uint8_t(t >> 8);
            c.frame[13] = uint8_t(t);
        }
        chunks.push_back(std::move(c));
        i += len;
    }

    // the pure parsers on every frame and payload
    for (const Chunk& c : chunks) {
        const uint8_t* f = c.frame.data();
        unsigned n = unsigned(c.frame.size());
        std::string serial;
        uint8_t mac[6];
        KORVIK::protocol::parse_ident_answer(f, n, serial, mac);
        KORVIK::protocol::FrameView view;
        if (KORVIK::protocol::parse_frame(f, n, view)) {
            std::vector<uint8_t> entry;
            KORVIK::protocol::classify_vendor_packet(view.payload, view.payload_len, &entry);
            KORVIK::USBDeviceStatus s;
            KORVIK::protocol::parse_status(view.payload, view.payload_len, s);
            KORVIK::protocol::RadioPacket p;
            KORVIK::protocol::parse_radio_record(view.payload, view.payload_len, p);
        }
    }
    std::map<int, KORVIK::NetlinkHotplug::Link> links;
    std::vector<std::string> removed;
    KORVIK::NetlinkHotplug::apply_messages(links, data, size, removed);

    // the board: frames handed over directly or consumed by exchanges
    FuzzBoard board;
    for (const Chunk& c : chunks)
        board.input.push_back(c.frame);
    size_t k = 0;
    while (!board.input.empty()) {
        uint8_t op = k < chunks.size() ? chunks[k++].op : 0;
        switch (op & 7) {
        case 0:
        case 1:
            board.wait_input();
            break;
        case 2:
            board.get_report11();
            break;
        case 3:
            board.evusb_read16(uint16_t(op << 4));
            break;
        case 4: {
            uint8_t block[9], addresses[12];
            board.get_chacc(block, addresses);
            break;
        }
        case 5:
            board.start_reprogramming(op >> 3);
            break;
        case 6:
            board.set_transmit_cw(op & 8);
            break;
        case 7: {
            uint8_t payload[3] = {op, 1, 2};
            board.queue_net_packet(payload, 3, nullptr);
            board.get_flashdata();
            break;
        }
        }
    }
    return 0;
}
