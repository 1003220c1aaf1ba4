#include "board/RC1300SPIBoard.h"

namespace KORVIK {

RC1300SPIBoard::RC1300SPIBoard(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                               const std::string& display_name, const std::string& mac,
                               std::unique_ptr<DirectSPI> adapter)
    : DirectSPIBoard(registry, serial, interface, display_name, "RC1300", mac, std::move(adapter))
{
}

RC1300SPIBoard::~RC1300SPIBoard()
{
    // the worker calls this class's operations
    stop_worker();
}

EvUSBBoard* RC1300SPIBoard::create(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                                   const std::string& display_name, const std::string& mac, DirectSPI* adapter)
{
    std::unique_ptr<DirectSPI> owned(adapter);
    std::unique_ptr<RC1300SPIBoard> board(
        new RC1300SPIBoard(registry, serial, interface, display_name, mac, std::move(owned)));
    board->start();
    return board.release();
}

void RC1300SPIBoard::spi_transmit(const uint8_t* payload, unsigned len)
{
    if (DirectSPI* a = get_adapter())
        a->transfer(std::vector<uint8_t>(payload, payload + len));
}

void RC1300SPIBoard::spi_write_register(uint16_t, uint8_t)
{
}

uint16_t RC1300SPIBoard::spi_read_register(uint16_t)
{
    return 0;
}

void RC1300SPIBoard::spi_set_state(uint8_t)
{
}

uint8_t RC1300SPIBoard::spi_get_state()
{
    return 0;
}

} // namespace KORVIK
