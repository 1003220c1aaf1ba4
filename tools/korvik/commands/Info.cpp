#include <iostream>
#include <string>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../Params.h"

namespace korvik_cli {

namespace {

Json names(const std::list<std::string>& list)
{
    Json a = Json::array();
    for (const std::string& s : list)
        a.push_back(s);
    return a;
}

std::string joined(const Json& list)
{
    std::string out;
    for (const Json& s : list)
        out += (out.empty() ? "" : ", ") + s.get<std::string>();
    return out.empty() ? "none" : out;
}

class InfoCommand : public Command {
public:
    const char* name() const override { return "info"; }
    const char* summary() const override
    {
        return "Identity (serial, MACs, NV values), chip name and flags, and what the chip supports";
    }
    void setup(CLI::App& app) override { app.add_option("BOARD", board, "The board")->required(); }

    int run(const Options& options) override
    {
        Device d = open_board(board);
        Json j = board_identity(*d);
        j["ethernet_mac"] = format_mac(d->get_ethernet_mac());
        j["radio_mac"] = format_mac(d->get_radio_ethernet_mac());
        j["nv_serial"] = d->get_nv_serial();
        j["nv_ethmac"] = format_mac(d->get_nv_ethernet_mac());
        j["nv_radiomac"] = format_mac(d->get_nv_radio_ethernet_mac());
        j["net_up"] = d->is_net_up();
        j["boardflags"] = d->get_boardflags();
        const unsigned flags = d->get_chipflags();
        j["chipflags"] = flags;
        j["can_receive"] = (flags & 1) != 0;
        j["can_transmit"] = (flags & 2) != 0;
        j["xtal_frequency"] = d->get_xtal_frequency();
        j["registers"] = d->get_registers();
        j["bitfields"] = d->get_bitfields();
        j["modulations"] = names(d->get_supported_modulations());
        j["framingmodes"] = names(d->get_supported_framingmodes());
        j["crcmodes"] = names(d->get_supported_crcmodes());
        j["btr_settings"] = names(d->get_supported_rx_btr_settings());
        Json enc = Json::array();
        const unsigned mask = d->get_supported_encodingmodes();
        const char* encodings[] = {"invert", "differential", "scrambler", "manchester"};
        for (unsigned b = 0; b < 4; ++b)
            if (mask & (1u << b))
                enc.push_back(encodings[b]);
        j["encodings"] = enc;
        j["channelaccessmodes"] = names(d->get_chacc_supported_channelaccessmodes());
        if (options.json) {
            print_json(j);
            return EXIT_OK;
        }
        auto line = [](const char* label, const std::string& value) {
            std::cout << label << std::string(22 - std::string(label).size(), ' ') << value << '\n';
        };
        line("serial", j["serial"]);
        line("interface", j["interface"]);
        line("display name", j["display_name"]);
        line("state", std::string(j["alive"].get<bool>() ? "live" : "dead") + (j["simulated"].get<bool>() ? ", simulated" : "") +
                          (j["net_up"].get<bool>() ? ", network up" : ""));
        line("ethernet MAC", j["ethernet_mac"]);
        line("radio MAC", j["radio_mac"]);
        line("NV serial", j["nv_serial"]);
        line("NV ethernet MAC", j["nv_ethmac"]);
        line("NV radio MAC", j["nv_radiomac"]);
        line("packets", "rx " + std::to_string(d->get_rx_pkt_count()) + ", tx " + std::to_string(d->get_tx_pkt_count()));
        line("chip", d->get_chip_name() + " (" + std::string(flags & 1 ? "receive" : "") +
                         (flags == 3 ? ", " : "") + (flags & 2 ? "transmit" : "") + ")");
        line("crystal", format_quantity(d->get_xtal_frequency(), Unit::Hz));
        line("registers", std::to_string(d->get_registers()) + ", bitfields " + std::to_string(d->get_bitfields()));
        line("modulations", joined(j["modulations"]));
        line("framings", joined(j["framingmodes"]));
        line("CRC modes", joined(j["crcmodes"]));
        line("btr settings", joined(j["btr_settings"]));
        line("encodings", joined(j["encodings"]));
        line("channel access", joined(j["channelaccessmodes"]));
        std::cout << std::flush;
        return EXIT_OK;
    }

private:
    std::string board;
};

} // namespace

std::unique_ptr<Command> make_info_command()
{
    return std::make_unique<InfoCommand>();
}

} // namespace korvik_cli
