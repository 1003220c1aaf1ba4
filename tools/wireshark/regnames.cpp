// Prints the dissector's table of register names by chip and operating
// address, from the chip models themselves; with --check FILE, compares it
// with the table in the dissector FILE, with --write FILE replaces it there.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "model/ChipModels.h"
#include "model/GreyfinModel.h"

namespace {

const char* const BEGIN = "-- BEGIN REGISTER NAMES";
const char* const END = "-- END REGISTER NAMES";

std::string lua_string(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"";
}

std::string table()
{
    std::ostringstream out;
    out << "local REGISTER_NAMES = {\n";
    for (const KORVIK::ChipModelEntry& chip : KORVIK::chip_models()) {
        if (!chip.model_factory)
            continue;
        std::unique_ptr<KORVIK::GreyfinModel> model(chip.model_factory(nullptr));
        out << "    " << chip.name << " = {\n";
        std::set<unsigned> seen;
        for (unsigned i = 0; i < model->get_registers(); ++i) {
            const unsigned address = model->get_register_operatingaddr(i);
            // the first register at an address names it, as the models read it
            if (!seen.insert(address).second)
                continue;
            char key[16];
            std::snprintf(key, sizeof key, "[0x%03x]", address);
            out << "        " << key << " = " << lua_string(model->get_register_name(i)) << ",\n";
        }
        out << "    },\n";
    }
    out << "}\n";
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string generated = table();
    if (argc == 1) {
        std::cout << generated;
        return 0;
    }
    if (argc != 3 || (std::string(argv[1]) != "--check" && std::string(argv[1]) != "--write")) {
        std::cerr << "usage: " << argv[0] << " [--check|--write DISSECTOR]\n";
        return 2;
    }
    std::ifstream in(argv[2]);
    std::stringstream text;
    text << in.rdbuf();
    const std::string dissector = text.str();
    const size_t begin = dissector.find(BEGIN);
    const size_t end = dissector.find(END);
    if (!in || begin == std::string::npos || end == std::string::npos || end < begin) {
        std::cerr << argv[2] << ": no register name block\n";
        return 1;
    }
    const size_t body = dissector.find('\n', begin) + 1;
    const std::string current = dissector.substr(body, end - body);
    if (std::string(argv[1]) == "--check") {
        if (current == generated)
            return 0;
        std::cerr << argv[2] << ": the register names differ from the chip models; run " << argv[0]
                  << " --write " << argv[2] << "\n";
        return 1;
    }
    std::ofstream out(argv[2]);
    out << dissector.substr(0, body) << generated << dissector.substr(end);
    return out ? 0 : 1;
}
