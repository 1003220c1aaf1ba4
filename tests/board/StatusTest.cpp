// Status handling: tick extension, clock estimate, the reprogramming jobs and
// the continuous-wave state byte.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "BoardFixtures.h"
#include "board/MainLoop.h"

using namespace KORVIK;
using testing_support::FakeModel;
using testing_support::RecordingBoard;

namespace {

constexpr int32_t T0 = 1800000000;

USBDeviceStatus status(uint16_t ticks, uint8_t code = 0x10, int32_t sec = T0, int32_t usec = 0)
{
    USBDeviceStatus s;
    s.ticks = ticks;
    s.progstate = code;
    s.time_sec = sec;
    s.time_usec = usec;
    return s;
}

using States = std::vector<uint8_t>;

} // namespace

class StatusHandling : public ::testing::Test {
protected:
    void SetUp() override { model = board.attach_model(); }
    USBDeviceStatus feed(USBDeviceStatus s)
    {
        board.handle_status(s);
        return last;
    }
    USBDeviceStatus feed_code(uint8_t code) { return feed(status(ticks += 100, code)); }

    RecordingBoard board;
    FakeModel* model = nullptr;
    USBDeviceStatus last;
    sigc::connection conn = board.signal_status.connect([this](const USBDeviceStatus& s) { last = s; });
    uint16_t ticks = 0;
};

TEST_F(StatusHandling, TickWrapIsLoggedOnce)
{
    ::testing::internal::CaptureStderr();
    feed(status(0xFFF0));
    feed(status(0x0010));
    feed(status(0x0008)); // jitter, not a second wrap
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(board.get_extended_ticks(), 0x10008u);
    size_t at = log.find("RLS Estimator Test board: frequency ");
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find("RLS Estimator", at + 1), std::string::npos) << log;
    EXPECT_NE(log.find("jiff 65552"), std::string::npos) << log;
}

TEST_F(StatusHandling, SmallStepBackIsJitter)
{
    feed(status(0x0800));
    feed(status(0x0100));
    EXPECT_EQ(board.get_extended_ticks(), 0x0100u);
}

TEST_F(StatusHandling, ArrivalTimeUntilTheFitExists)
{
    USBDeviceStatus s = feed(status(1000, 0x10, T0, 250000));
    EXPECT_EQ(s.time_sec, T0);
    EXPECT_EQ(s.time_usec, 250000);
    s = feed(status(1000, 0x10, T0 + 1, 0)); // same tick: still no fit
    EXPECT_EQ(s.time_sec, T0 + 1);
    EXPECT_EQ(s.time_usec, 0);
    feed(status(2000, 0x10, T0 + 1, 250000));
    // from here on times are estimates on the fitted line
    s = feed(status(3000, 0x10, T0 + 9, 0));
    EXPECT_NE(s.time_sec, T0 + 9);
    EXPECT_GE(s.time_usec, 0);
    EXPECT_LT(s.time_usec, 1000000);
    EXPECT_EQ(s.ticks, 3000);
}

TEST_F(StatusHandling, TwoJobsRunInTurnAndReportOnce)
{
    board.start_reprogramming(1);
    board.start_reprogramming(2);
    feed_code(0);
    EXPECT_EQ(board.states, (States{0x04}));
    EXPECT_EQ(board.get_reprogram_state(), 1);
    feed_code(4);
    feed_code(1);
    EXPECT_TRUE(model->terminations.empty());
    feed_code(0);
    EXPECT_EQ(board.states, (States{0x04, 0x00, 0x05}));
    ::testing::internal::CaptureStderr();
    feed_code(1);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Chip reprogramming succeeded"), std::string::npos);
    ASSERT_EQ(model->terminations.size(), 1u);
    EXPECT_EQ(model->terminations[0], std::make_pair(0, 0));
    feed_code(0);
    EXPECT_EQ(board.states, (States{0x04, 0x00, 0x05, 0x00, 0x10}));
    EXPECT_EQ(last.progstate, 0);
}

TEST_F(StatusHandling, FailedJob)
{
    board.start_reprogramming(1 | 8); // unknown bits are ignored
    EXPECT_EQ(board.get_pending_reprogram(), 1u);
    feed_code(0);
    ::testing::internal::CaptureStderr();
    feed_code(2);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Chip reprogramming failed"), std::string::npos);
    ASSERT_EQ(model->terminations.size(), 1u);
    EXPECT_EQ(model->terminations[0], std::make_pair(-1, -3));
    EXPECT_FALSE(board.reprogram_timer_running());
}

TEST_F(StatusHandling, JobTimesOutAtFirstProgressAfterTimer)
{
    board.start_reprogramming(2);
    feed_code(0);
    EXPECT_TRUE(board.reprogram_timer_running());
    feed_code(8);
    EXPECT_TRUE(model->terminations.empty());
    board.expire_reprogram_timer();
    ::testing::internal::CaptureStderr();
    feed_code(8);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Chip reprogramming timed out"), std::string::npos);
    ASSERT_EQ(model->terminations.size(), 1u);
    EXPECT_EQ(model->terminations[0], std::make_pair(-3, -2));
    EXPECT_EQ(board.states, (States{0x05, 0x00}));
    EXPECT_EQ(board.get_reprogram_state(), 0);
}

TEST_F(StatusHandling, TimeoutRunsOnTheLibraryContext)
{
    board.start_reprogramming(1);
    feed_code(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    main_context_dispatch_pending();
    EXPECT_FALSE(board.reprogram_timer_running());
    feed_code(9);
    ASSERT_EQ(model->terminations.size(), 1u);
    EXPECT_EQ(model->terminations[0], std::make_pair(-2, -3));
}

TEST_F(StatusHandling, TimeoutWithoutPumpingTheLoop)
{
    // nobody iterates the main context here; the job still ends
    board.start_reprogramming(1);
    feed_code(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2050));
    feed_code(5);
    EXPECT_EQ(board.get_reprogram_state(), 0);
    EXPECT_EQ(model->terminations.size(), 1u);
}

TEST_F(StatusHandling, ContinuousWave)
{
    unsigned changed = 0;
    board.signal_changed_transmit_cw.connect([&] { ++changed; });
    board.set_transmit_cw(true);
    EXPECT_EQ(board.states, (States{0x30}));
    board.set_transmit_cw(true);
    EXPECT_EQ(changed, 1u);

    board.start_reprogramming(1);
    board.set_transmit_cw(false); // pending job: only the signal
    EXPECT_EQ(changed, 2u);
    EXPECT_EQ(board.states, (States{0x30}));
    feed_code(0);
    board.set_transmit_cw(true); // running job: only the signal
    feed_code(1);
    feed_code(0);
    EXPECT_EQ(board.states, (States{0x30, 0x04, 0x00, 0x30}));
    EXPECT_TRUE(board.is_transmit_cw());
}

TEST_F(StatusHandling, IdleCodesOnlyStopOrKeepRunning)
{
    feed_code(1); // finished while nothing ran: stop the board
    feed_code(0x10); // running and idle: nothing to send
    EXPECT_EQ(board.states, (States{0x00}));
    EXPECT_TRUE(model->terminations.empty());
    board.start_reprogramming(2);
    feed_code(0x10); // a pending job also starts from a running state
    EXPECT_EQ(board.states, (States{0x00, 0x05}));
}
