// The simulated board's hardware: flash unlock protocol, register space,
// state byte, and leaving the registry.
#include <gtest/gtest.h>

#include "BoardFixtures.h"

using namespace KORVIK;
using testing_support::RecordingBoard;

class SimFlash : public ::testing::Test {
protected:
    void write_word(uint8_t addr, uint16_t w)
    {
        board.set_flashaddr(addr);
        board.set_flashdata(w);
    }
    uint16_t read_word(uint8_t addr)
    {
        board.set_flashaddr(addr);
        return uint16_t(board.get_flashdata());
    }
    RecordingBoard board;
};

TEST_F(SimFlash, UnlockMachine)
{
    struct Step {
        uint8_t value;
        int state;
    };
    // state 1 waits through other bytes for 0xAA; 0x35 keeps state 2
    const Step steps[] = {{0x12, 0}, {0xF0, 1}, {0x55, 1}, {0xF0, 1}, {0xAA, 2}, {0x35, 2}, {0x93, 2}, {0x00, 0}};
    for (const Step& s : steps) {
        board.set_flashctl(s.value);
        EXPECT_EQ(board.get_flashctl(), s.state) << int(s.value);
    }
}

TEST_F(SimFlash, EraseThenProgram)
{
    EXPECT_EQ(read_word(255), 0xFFFF);
    write_word(3, 0x1234); // locked: ignored
    EXPECT_EQ(read_word(3), 0xFFFF);
    board.set_flashctl(0xF0);
    board.set_flashctl(0xAA);
    write_word(3, 0x1234);
    write_word(4, 0x5678);
    EXPECT_EQ(read_word(3), 0x1234);
    board.set_flashctl(0x93); // erase
    EXPECT_EQ(read_word(3), 0xFFFF);
    write_word(4, 0xBEEF);
    board.set_flashctl(0x00);
    write_word(4, 0x0000);
    EXPECT_EQ(read_word(4), 0xBEEF);
    EXPECT_EQ(board.get_flashaddr(), 4);
}

TEST(SimHardware, RegisterSpace)
{
    RecordingBoard board;
    board.evusb_write(0x010, 0x34);
    board.evusb_write(0x011, 0x12);
    EXPECT_EQ(board.evusb_read16(0x010), 0x1234);
    EXPECT_EQ(board.evusb_read16(0x011), 0x3412);
    board.evusb_write(0xFFF, 0x77);
    EXPECT_EQ(board.evusb_read16(0xFFE), 0x7700);
    board.evusb_write(0x1000, 0x55);
    EXPECT_EQ(board.evusb_read16(0x1000), 0xFFFF);
    EXPECT_EQ(board.evusb_read16(0xFFFF), 0xFFFF);
    EXPECT_EQ(board.evusb_read16(0x000), 0x0000);
}

TEST(SimHardware, StateByteKeepsOnlyRunningValues)
{
    RecordingBoard board;
    board.evusb_set_ethstate(0x20);
    EXPECT_EQ(board.evusb_get_ethstate(), 0x20);
    board.evusb_set_ethstate(0x05);
    EXPECT_EQ(board.evusb_get_ethstate(), 0);
}

TEST(SimHardware, LeavingWithoutRegistryMarksDead)
{
    RecordingBoard board;
    EXPECT_FALSE(board.is_dead());
    board.leave_registry();
    EXPECT_TRUE(board.is_dead());
}
