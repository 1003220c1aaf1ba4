#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "FakeAdapter.h"
#include "board/MainLoop.h"
#include "transport/WindowsEvUSBBoard.h"
#include "transport/WindowsLibrary.h"

namespace korvik_emu {

inline const uint8_t TEST_MAC[6] = {0x02, 0x12, 0x34, 0x0A, 0x0B, 0x10};

/// Runs the library's main context until pred() holds or the time is up.
inline bool pump_until(const std::function<bool()>& pred, std::chrono::milliseconds limit)
{
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        KORVIK::main_context_dispatch_pending();
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

/// Counts device connect and disconnect signals of a library.
struct RegistryEvents {
    explicit RegistryEvents(KORVIK::Library& library)
    {
        library.signal_device_connect.connect([this](const std::string& i, const std::string&) {
            ++connects;
            last_interface = i;
        });
        library.signal_device_disconnect.connect([this](const std::string& i, const std::string&) {
            ++disconnects;
            last_interface = i;
        });
    }
    int connects = 0;
    int disconnects = 0;
    std::string last_interface;
};

/// Holds a board reference the way a device handle does.
struct BoardRef {
    explicit BoardRef(KORVIK::EvUSBBoard* b) : board(b) { if (board) board->reference(); }
    ~BoardRef() { if (board) board->unreference(); }
    BoardRef(const BoardRef&) = delete;
    BoardRef& operator=(const BoardRef&) = delete;
    KORVIK::EvUSBBoard* board;
};

} // namespace korvik_emu
