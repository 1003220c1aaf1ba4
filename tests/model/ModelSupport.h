#pragma once

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "board/EvUSBBoard.h"
#include "model/GreyfinModel.h"
#include "model/rc1200/RC1200Model.h"

namespace KORVIK {
namespace model_test {

/// Board over an in-memory register file that records every write.
class MemoryBoard : public EvUSBBoard {
public:
    MemoryBoard() : EvUSBBoard(nullptr, "MODELTEST", "none", "model test", "02:00:00:00:00:01") {}

    uint8_t regs[0x10000] = {};
    std::vector<std::pair<uint16_t, uint8_t>> writes;
    uint8_t ethstate = 0;

    int queue_net_packet(const uint8_t*, unsigned, const uint8_t*) override { return 0; }
    int get_report11() override { return 0; }
    void set_report10(bool, bool) override {}
    void evusb_write(uint16_t address, uint8_t value) override
    {
        regs[address] = value;
        writes.emplace_back(address, value);
    }
    uint16_t evusb_read16(uint16_t address) override { return uint16_t(0xAB00 | regs[address]); }
    void set_flashctl(uint8_t) override {}
    int get_flashctl() override { return 0; }
    void set_flashaddr(uint8_t) override {}
    int get_flashaddr() override { return 0; }
    void set_flashdata(uint16_t) override {}
    int get_flashdata() override { return 0; }
    void evusb_set_ethstate(uint8_t state) override { ethstate = state; }
    int evusb_get_ethstate() override { return ethstate; }
    void set_chacc(const uint8_t*, const uint8_t*) override {}
    void get_chacc(uint8_t*, uint8_t*) override {}
};

/// Captures std::cerr for the lifetime of the object.
class CerrCapture {
public:
    CerrCapture() : old(std::cerr.rdbuf(buffer.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(old); }
    std::string text() const { return buffer.str(); }

private:
    std::ostringstream buffer;
    std::streambuf* old;
};

/// RC1200 model that records the reprogramming requests of its commits.
class RecordingRC1200 : public RC1200Model {
public:
    using RC1200Model::RC1200Model;
    std::vector<unsigned> reprogramming;
    void start_chip_reprogramming(unsigned flags) override
    {
        reprogramming.push_back(flags);
        RC1200Model::start_chip_reprogramming(flags);
    }
};

/// Connects to every parameter signal and records the names in order.
class SignalLog {
public:
    explicit SignalLog(GreyfinModel& m)
    {
        add(m.signal_changed_xtal_frequency, "xtal_frequency");
        add(m.signal_changed_rx_modulation, "rx_modulation");
        add(m.signal_changed_tx_modulation, "tx_modulation");
        add(m.signal_changed_rx_carrierfrequency, "rx_carrierfrequency");
        add(m.signal_changed_tx_carrierfrequency, "tx_carrierfrequency");
        add(m.signal_changed_rx_bandwidth, "rx_bandwidth");
        add(m.signal_changed_tx_deviation, "tx_deviation");
        add(m.signal_changed_rx_bitrate, "rx_bitrate");
        add(m.signal_changed_tx_bitrate, "tx_bitrate");
        add(m.signal_changed_rx_btr, "rx_btr");
        add(m.signal_changed_tx_power, "tx_power");
        add(m.signal_changed_iffrequency, "iffrequency");
        add(m.signal_changed_framingmode, "framingmode");
        add(m.signal_changed_enc_invert, "enc_invert");
        add(m.signal_changed_enc_diff, "enc_diff");
        add(m.signal_changed_enc_scrambler, "enc_scrambler");
        add(m.signal_changed_enc_manchester, "enc_manchester");
        add(m.signal_changed_crcmode, "crcmode");
        add(m.signal_changed_crcinit, "crcinit");
    }
    ~SignalLog()
    {
        for (auto& c : connections)
            c.disconnect();
    }
    std::vector<std::string> names;

private:
    void add(sigc::signal<void()>& s, const char* name)
    {
        connections.push_back(s.connect([this, name] { names.push_back(name); }));
    }
    std::vector<sigc::connection> connections;
};

} // namespace model_test
} // namespace KORVIK
