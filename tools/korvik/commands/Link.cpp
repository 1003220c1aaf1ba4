#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/stat.h>

#include <QDomDocument>
#include <QString>

#include <CLI/App.hpp>

#include <korvik/LinkTools.h>
#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../SettingsFiles.h"
#include "../Units.h"
#include "core/SettingsFile.h"

namespace korvik_cli {

namespace {

bool is_file(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// a board, sim:CHIP[:FILE], or a settings file on a board of its chip of its own
Device board_or_file(const std::string& name)
{
    if (name.rfind("sim:", 0) == 0 || !is_file(name))
        return open_board(name);
    const QDomDocument document = read_settings(name);
    Device d = open_scratch_board(settings_chip(document));
    try {
        apply_settings_document(*d, document);
    } catch (const QString& message) {
        throw Failure(name + ": " + message.toLocal8Bit().toStdString());
    }
    d->commit_registers();
    return d;
}

Json number(double v)
{
    return std::isfinite(v) ? Json(v) : Json(nullptr);
}

std::string margin_text(const KORVIK::LinkRule& r)
{
    if (!std::isfinite(r.margin))
        return "";
    char buf[48];
    std::snprintf(buf, sizeof buf, r.unit == "%" ? "%+.2f %s" : "%+.1f %s", r.margin, r.unit.c_str());
    return buf;
}

class LinkCommand : public Command {
public:
    const char* name() const override { return "link"; }
    const char* summary() const override
    {
        return "Whether RX hears TX: every delivery rule with its margin, the link budget and what to change";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("TX", tx_name, "The sending board (or settings file)")->required();
        app.add_option("RX", rx_name, "The receiving board (or settings file)")->required();
        app.add_option("--data", data_text,
                       "The packet's first bytes in hexadecimal, for the receiver's address filter");
        app.add_option("--path-loss", path_loss_text, "Path loss for the budget, e.g. 80dB (default: the virtual air's)");
        app.add_option("--length", length, "Data bytes per packet for the sensitivity (default 32)")
            ->check(CLI::Range(1u, 1400u));
    }

    int run(const Options& options) override
    {
        Device tx = board_or_file(tx_name);
        Device rx = board_or_file(rx_name);
        KORVIK::LinkCheckOptions o;
        std::string data;
        if (!data_text.empty()) {
            try {
                data = parse_hex_data(data_text);
            } catch (const ValueError& e) {
                throw UsageError(std::string("--data: ") + e.what());
            }
            o.data = reinterpret_cast<const unsigned char*>(data.data());
            o.len = unsigned(data.size());
        }
        if (!path_loss_text.empty())
            o.path_loss = parse_db(path_loss_text);
        o.packet_length = length;
        const KORVIK::LinkCheck c = KORVIK::check_link(*tx, *rx, o);

        if (options.json) {
            Json rules = Json::array();
            for (const auto& r : c.rules)
                rules.push_back(Json{{"name", r.name},
                                     {"applies", r.applies},
                                     {"ok", r.ok},
                                     {"margin", number(r.margin)},
                                     {"unit", r.unit},
                                     {"detail", r.detail},
                                     {"fix", r.fix.empty() ? Json(nullptr) : Json(r.fix)}});
            print_json(Json{{"tx", tx->get_serial()},
                            {"rx", rx->get_serial()},
                            {"works", c.works},
                            {"cause", c.works ? Json(nullptr) : Json(c.cause)},
                            {"fix", c.works ? Json(nullptr) : Json(c.fix)},
                            {"crystal_errors_known", c.crystal_errors_known},
                            {"carrier_difference", c.carrier_difference},
                            {"carrier_window", c.carrier_window},
                            {"crystal_allowance", c.crystal_allowance},
                            {"tx_power", c.tx_power},
                            {"path_loss", c.path_loss},
                            {"level", c.level},
                            {"sensitivity", number(c.sensitivity)},
                            {"budget_margin", number(c.budget_margin)},
                            {"rules", rules}});
        } else {
            std::cout << "link " << tx->get_chip_name() << " " << tx->get_serial() << " -> " << rx->get_chip_name()
                      << " " << rx->get_serial() << "\n";
            for (const auto& r : c.rules) {
                const char* mark = !r.applies ? "  -- " : r.ok ? "  ok " : "  NO ";
                char head[64];
                std::snprintf(head, sizeof head, "%s%-12s %-12s ", mark, r.name.c_str(), margin_text(r).c_str());
                std::cout << head << r.detail << "\n";
                if (!r.fix.empty())
                    std::cout << "                                fix: " << r.fix << "\n";
            }
            if (c.works)
                std::cout << "verdict: yes, RX hears TX\n";
            else
                std::cout << "verdict: no (" << c.cause << "): " << c.fix << "\n";
            std::cout.flush();
        }
        return c.works ? EXIT_OK : EXIT_FAILURE_;
    }

private:
    static double parse_db(const std::string& text)
    {
        std::string t = text;
        while (!t.empty() && t.back() == ' ')
            t.pop_back();
        if (t.size() > 2 && t.compare(t.size() - 2, 2, "dB") == 0)
            t.resize(t.size() - 2);
        try {
            size_t used = 0;
            const double v = std::stod(t, &used);
            if (used == t.size() && std::isfinite(v))
                return v;
        } catch (const std::exception&) {
        }
        throw UsageError("--path-loss: '" + text + "' is not a value in dB (e.g. 80 or 80dB)");
    }

    std::string tx_name;
    std::string rx_name;
    std::string data_text;
    std::string path_loss_text;
    unsigned length = 32;
};

} // namespace

std::unique_ptr<Command> make_link_command()
{
    return std::make_unique<LinkCommand>();
}

} // namespace korvik_cli
