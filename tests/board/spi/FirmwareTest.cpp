// The firmware part of a direct SPI board on its own: requests in, replies
// out, chip and NV file behind a recording fake.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "board/Protocol.h"
#include "board/SpiFirmware.h"

using namespace KORVIK;

namespace {

struct FakeChip : SpiFirmwareHooks {
    uint8_t regs[0x1000] = {};
    uint8_t state = 0;
    int control = -1;
    int saves = 0;
    std::vector<uint8_t> saved;

    void firmware_write_register(uint16_t a, uint8_t v) override { regs[a & 0xFFF] = v; }
    uint16_t firmware_read_register(uint16_t a) override
    {
        return uint16_t(regs[a & 0xFFF] << 8 | regs[(a ^ 1) & 0xFFF]);
    }
    void firmware_set_state(uint8_t s) override { state = s; }
    uint8_t firmware_get_state() override { return state; }
    void firmware_set_control(bool a, bool b) override { control = (a ? 1 : 0) | (b ? 2 : 0); }
    bool firmware_save_flash(const uint8_t* f, size_t len) override
    {
        ++saves;
        saved.assign(f, f + len);
        return true;
    }
};

class Firmware : public ::testing::Test {
protected:
    /// Sends a set; returns whether it was answered with the empty reply.
    bool set(uint8_t id, std::vector<uint8_t> data)
    {
        auto req = protocol::build_set_report(id, data.data(), unsigned(data.size()));
        std::vector<uint8_t> reply;
        if (!fw.answer(req.data(), req.size(), reply))
            return false;
        EXPECT_EQ(reply, (std::vector<uint8_t>{0x00, 0x02, 0x01, id}));
        return true;
    }
    /// Sends a get; returns the reply's data, or nothing when unanswered.
    bool get(uint8_t id, std::vector<uint8_t>& data)
    {
        auto req = protocol::build_get_report(id);
        std::vector<uint8_t> reply;
        if (!fw.answer(req.data(), req.size(), reply))
            return false;
        EXPECT_GE(reply.size(), 4u);
        EXPECT_EQ(unsigned(reply[0] << 8 | reply[1]), reply.size() - 2); // big-endian length
        EXPECT_EQ(reply[2], 0x01);
        EXPECT_EQ(reply[3], id);
        data.assign(reply.begin() + 4, reply.end());
        return true;
    }
    void unlock()
    {
        ASSERT_TRUE(set(0xE0, {0x00}));
        ASSERT_TRUE(set(0xE0, {0xF0}));
        ASSERT_TRUE(set(0xE0, {0xAA}));
    }
    void write_word(uint8_t address, uint8_t lo, uint8_t hi)
    {
        ASSERT_TRUE(set(0xE1, {address}));
        ASSERT_TRUE(set(0xE2, {lo, hi}));
    }
    std::vector<uint8_t> read_word(uint8_t address)
    {
        std::vector<uint8_t> d;
        EXPECT_TRUE(set(0xE1, {address}));
        EXPECT_TRUE(get(0xE2, d));
        return d;
    }

    FakeChip chip;
    SpiFirmware fw{chip};
};

TEST_F(Firmware, RegisterWriteThenReadEchoesTheAddress)
{
    ASSERT_TRUE(set(0xF0, {0x10, 0x00, 1, 0x34}));
    ASSERT_TRUE(set(0xF0, {0x11, 0x00, 1, 0x12}));
    EXPECT_EQ(chip.regs[0x10], 0x34);
    ASSERT_TRUE(set(0xF0, {0x34, 0x02, 0, 0x99})); // address only, no write
    EXPECT_EQ(chip.regs[0x234], 0);
    ASSERT_TRUE(set(0xF0, {0x10, 0x00, 0, 0}));
    std::vector<uint8_t> d;
    ASSERT_TRUE(get(0xF0, d));
    // address low, high, 0, then the value high byte first
    EXPECT_EQ(d, (std::vector<uint8_t>{0x10, 0x00, 0x00, 0x34, 0x12}));

    ASSERT_TRUE(set(0xF0, {0x34, 0x02, 0, 0}));
    ASSERT_TRUE(get(0xF0, d));
    EXPECT_EQ(d[0], 0x34);
    EXPECT_EQ(d[1], 0x02);
}

TEST_F(Firmware, RequestsMissingTheirDataGetNoReply)
{
    EXPECT_FALSE(set(0xF0, {0x10, 0x00, 1}));
    EXPECT_FALSE(set(0x20, std::vector<uint8_t>(20, 0)));
    EXPECT_FALSE(set(0x21, {}));
    EXPECT_FALSE(set(0xE1, {}));
    EXPECT_FALSE(set(0xE2, {0x01}));
    EXPECT_FALSE(set(0x10, {}));
    EXPECT_EQ(chip.control, -1);
}

TEST_F(Firmware, ReportsNeverAnswered)
{
    std::vector<uint8_t> d;
    EXPECT_FALSE(get(0x10, d));
    EXPECT_FALSE(set(0x11, {0}));
    EXPECT_FALSE(get(0x55, d));
    EXPECT_FALSE(set(0x55, {1, 2}));
    EXPECT_TRUE(get(0x11, d));
    EXPECT_EQ(d, std::vector<uint8_t>{0});
}

TEST_F(Firmware, MalformedPacketsAreDropped)
{
    std::vector<uint8_t> reply;
    const uint8_t too_short[3] = {0x00, 0x02, 0x01};
    EXPECT_FALSE(fw.answer(too_short, sizeof too_short, reply));
    const uint8_t length_beyond_end[6] = {0x00, 0x08, 0x09, 0xE1, 0x05, 0x00};
    EXPECT_FALSE(fw.answer(length_beyond_end, sizeof length_beyond_end, reply));
    const uint8_t length_below_header[4] = {0x00, 0x01, 0x01, 0x11};
    EXPECT_FALSE(fw.answer(length_below_header, sizeof length_below_header, reply));
    EXPECT_FALSE(fw.answer(nullptr, 10, reply));
    EXPECT_EQ(fw.flash_address, 0);
}

TEST_F(Firmware, StateChannelAccessAndControlLines)
{
    ASSERT_TRUE(set(0x21, {0x20}));
    EXPECT_EQ(chip.state, 0x20);
    std::vector<uint8_t> d;
    ASSERT_TRUE(get(0x21, d));
    EXPECT_EQ(d, std::vector<uint8_t>{0x20});

    std::vector<uint8_t> block(21);
    for (unsigned i = 0; i < 21; ++i)
        block[i] = uint8_t(i * 3);
    block.push_back(0xEE); // longer than the block: the rest is ignored
    ASSERT_TRUE(set(0x20, block));
    ASSERT_TRUE(get(0x20, d));
    block.pop_back();
    EXPECT_EQ(d, block);

    ASSERT_TRUE(set(0x10, {0xFE}));
    EXPECT_EQ(chip.control, 2);
    ASSERT_TRUE(set(0x10, {0x01}));
    EXPECT_EQ(chip.control, 1);
}

TEST_F(Firmware, FlashUnlockStateMachine)
{
    std::vector<uint8_t> d;
    ASSERT_TRUE(set(0xE0, {0xF0}));
    ASSERT_TRUE(set(0xE0, {0x55})); // state 1 keeps any byte but 0xAA
    ASSERT_TRUE(set(0xE0, {0xAA}));
    ASSERT_TRUE(get(0xE0, d));
    EXPECT_EQ(d, std::vector<uint8_t>{2});
    ASSERT_TRUE(set(0xE0, {0x35}));
    EXPECT_EQ(fw.flash_state, 2);
    // a set without data resets and is not answered
    EXPECT_FALSE(set(0xE0, {}));
    EXPECT_EQ(fw.flash_state, 0);
    ASSERT_TRUE(set(0xE0, {0xAA})); // not from state 0
    EXPECT_EQ(fw.flash_state, 0);
}

TEST_F(Firmware, FlashWritesOnlyWhenUnlockedAndSavesAtTheEnd)
{
    EXPECT_EQ(read_word(7), (std::vector<uint8_t>{0xFF, 0xFF}));
    write_word(7, 0x34, 0x12); // locked: ignored
    EXPECT_EQ(read_word(7), (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_FALSE(fw.flash_dirty);
    ASSERT_TRUE(set(0xE0, {0x00}));
    EXPECT_EQ(chip.saves, 0);

    unlock();
    write_word(7, 0x34, 0x12);
    write_word(255, 0xAB, 0xCD);
    EXPECT_EQ(read_word(7), (std::vector<uint8_t>{0x34, 0x12}));
    EXPECT_EQ(chip.saves, 0); // nothing saved while the sequence runs
    ASSERT_TRUE(set(0xE0, {0x00}));
    ASSERT_EQ(chip.saves, 1);
    ASSERT_EQ(chip.saved.size(), 512u);
    EXPECT_EQ(chip.saved[14], 0x34);
    EXPECT_EQ(chip.saved[15], 0x12);
    EXPECT_EQ(chip.saved[510], 0xAB);
    EXPECT_EQ(chip.saved[511], 0xCD);
    EXPECT_EQ(chip.saved[0], 0xFF);

    // unlocking and leaving again without a change does not save
    unlock();
    ASSERT_TRUE(set(0xE0, {0x00}));
    EXPECT_EQ(chip.saves, 1);

    // an erase alone reaches the file too
    unlock();
    ASSERT_TRUE(set(0xE0, {0x93}));
    EXPECT_EQ(read_word(7), (std::vector<uint8_t>{0xFF, 0xFF}));
    ASSERT_TRUE(set(0xE0, {0x00}));
    ASSERT_EQ(chip.saves, 2);
    EXPECT_EQ(chip.saved, std::vector<uint8_t>(512, 0xFF));
}

TEST(FirmwareBpq, PayloadFollowsTheLengthWord)
{
    const uint8_t* payload = nullptr;
    unsigned len = 0;
    const uint8_t ok[6] = {8, 0, 'a', 'b', 'c', 0};
    ASSERT_TRUE(SpiFirmware::bpq_payload(ok, sizeof ok, payload, len));
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(payload, ok + 2);
    EXPECT_TRUE(SpiFirmware::bpq_payload(ok, 5, payload, len)); // exactly L - 3 bytes
    EXPECT_FALSE(SpiFirmware::bpq_payload(ok, 4, payload, len));
    const uint8_t empty[2] = {5, 0};
    EXPECT_FALSE(SpiFirmware::bpq_payload(empty, sizeof empty, payload, len));
    const uint8_t tiny[2] = {1, 0};
    EXPECT_FALSE(SpiFirmware::bpq_payload(tiny, sizeof tiny, payload, len));
    EXPECT_FALSE(SpiFirmware::bpq_payload(ok, 1, payload, len));
}

} // namespace
