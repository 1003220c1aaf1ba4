#include "board/ScratchBoard.h"

#include <cstring>

#include "model/GreyfinModel.h"

namespace KORVIK {

ScratchBoard::ScratchBoard(const std::string& chip) : EvUSBBoard(nullptr, "", "", "", "00:00:00:00:00:00")
{
    attach_chip_model(chip);
    // a framing change here asks no firmware to recalibrate
    model_connection_b.disconnect();
}

void ScratchBoard::copy_settings(const EvUSBBoard& board, const uint64_t* only)
{
    chacc = board.get_chacc_params();
    nv_chacc = board.get_nv_chacc_params();
    nv_serial = board.get_nv_serial();
    std::memcpy(nv_ethernet_mac, board.get_nv_ethernet_mac(), 6);
    std::memcpy(nv_radio_ethernet_mac, board.get_nv_radio_ethernet_mac(), 6);
    const GreyfinModel* from = board.get_model();
    if (!model || !from)
        return;
    // the crystal first: setting it derives registers, which the copy then overwrites
    if (model->get_xtal_frequency() != from->get_xtal_frequency())
        model->set_xtal_frequency(from->get_xtal_frequency());
    model->set_xtal_tolerance(from->get_xtal_tolerance());
    model->copy_register_chipvalues(*from, only);
}

void ScratchBoard::get_chacc(uint8_t block[9], uint8_t addresses[12])
{
    chacc.get_block(block);
    chacc.get_addresses(addresses);
}

} // namespace KORVIK
