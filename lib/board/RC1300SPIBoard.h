#pragma once

#include <memory>
#include <string>

#include "board/DirectSPIBoard.h"

namespace KORVIK {

class BoardRegistry;

/// An RC1300 on a direct SPI adapter. Its chip access is a placeholder:
/// register writes and state changes do nothing, reads answer 0; radio
/// packets are clocked out to the adapter as they are.
class RC1300SPIBoard : public DirectSPIBoard {
public:
    RC1300SPIBoard(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                   const std::string& display_name, const std::string& mac, std::unique_ptr<DirectSPI> adapter);
    ~RC1300SPIBoard() override;

    /// The chip table's SPI-board factory: a started board that owns
    /// `adapter`; throws when the board does not answer.
    static EvUSBBoard* create(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                              const std::string& display_name, const std::string& mac, DirectSPI* adapter);

protected:
    void spi_transmit(const uint8_t* payload, unsigned len) override;
    void spi_write_register(uint16_t address, uint8_t value) override;
    uint16_t spi_read_register(uint16_t address) override;
    void spi_set_state(uint8_t state) override;
    uint8_t spi_get_state() override;
};

} // namespace KORVIK
