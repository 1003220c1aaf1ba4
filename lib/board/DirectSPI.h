#pragma once

#include <cstdint>
#include <vector>

namespace KORVIK {

/// An SPI adapter that wires a radio chip straight to the host. Used only by
/// the worker thread of a direct SPI board.
class DirectSPI {
public:
    virtual ~DirectSPI() = default;
    /// Drives the adapter's two control lines (bits 0 and 1 of report 0x10).
    virtual void set_control(bool line0, bool line1) = 0;
    /// One full-duplex transfer: clocks `out` to the chip and returns the
    /// bytes clocked in; empty when no adapter answers.
    virtual std::vector<uint8_t> transfer(const std::vector<uint8_t>& out) = 0;
};

/// The adapter of platforms without direct SPI access: it drives nothing and
/// answers nothing, so no direct SPI board is ever found through it.
class WindowsDirectSPI : public DirectSPI {
public:
    void set_control(bool, bool) override {}
    std::vector<uint8_t> transfer(const std::vector<uint8_t>&) override { return {}; }
};

} // namespace KORVIK
