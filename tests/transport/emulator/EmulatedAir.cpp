#include "EmulatedAir.h"

#include <algorithm>

#include "VethEmulator.h"

namespace korvik_emu {

std::vector<uint8_t> radio_payload(const std::vector<uint8_t>& p)
{
    if (p.size() >= 2) {
        const unsigned length = unsigned(p[0] | p[1] << 8);
        // padding may follow the frame, so the length word decides
        if (length >= 5 && length - 5 <= p.size() - 2)
            return std::vector<uint8_t>(p.begin() + 2, p.begin() + 2 + (length - 5));
    }
    return p;
}

EmulatedAir::EmulatedAir(const AirSettings& settings) : current(settings), state(settings.seed)
{
}

void EmulatedAir::set(const AirSettings& settings)
{
    std::lock_guard<std::mutex> lock(mutex);
    current = settings;
    state = settings.seed;
}

AirSettings EmulatedAir::settings() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return current;
}

void EmulatedAir::attach(VethEmulator* board)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (std::find(boards.begin(), boards.end(), board) == boards.end())
        boards.push_back(board);
}

void EmulatedAir::detach(VethEmulator* board)
{
    std::lock_guard<std::mutex> lock(mutex);
    boards.erase(std::remove(boards.begin(), boards.end(), board), boards.end());
}

double EmulatedAir::draw()
{
    // splitmix64: the same seed gives the same losses everywhere
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return double(z >> 11) * 0x1.0p-53;
}

void EmulatedAir::transmit(VethEmulator* from, const std::vector<uint8_t>& packet)
{
    const std::vector<uint8_t> payload = radio_payload(packet);
    // sending under the air's lock: once detach() returns, no frame goes to that board
    std::lock_guard<std::mutex> lock(mutex);
    for (VethEmulator* to : boards) {
        if (to == from)
            continue;
        if (draw() < current.loss) {
            ++lost_count;
            continue;
        }
        ++delivered_count;
        Frame frame;
        to->with_firmware([&](BoardFirmware& f) {
            frame = f.radio_record_frame(current.frequency_offset, current.rssi, payload);
        });
        to->send(frame);
    }
}

unsigned EmulatedAir::delivered() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return delivered_count;
}

unsigned EmulatedAir::lost() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return lost_count;
}

} // namespace korvik_emu
