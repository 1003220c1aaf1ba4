// The library's loop driven from outside, the way a GUI toolkit drives it:
// wait on the handles and the timeout it reports, then call periodic().
#include <korvik/USBDevice.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "board/EvUSBBoard.h"
#include "board/MainLoop.h"

using KORVIK::USBDevice;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<pollfd> to_pollfds(const std::vector<void*>& handles)
{
    std::vector<pollfd> fds;
    for (void* handle : handles)
        fds.push_back({static_cast<int>(reinterpret_cast<intptr_t>(handle)), POLLIN, 0});
    return fds;
}

// Runs the caller's side of the loop until `done` or the deadline; returns
// how many times poll() returned.
template <typename Done>
int drive(Done done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    int wakeups = 0;
    while (!done() && Clock::now() < deadline) {
        std::vector<void*> handles;
        int timeout = USBDevice::get_poll_handles(handles);
        auto fds = to_pollfds(handles);
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (timeout < 0 || timeout > left)
            timeout = int(left > 0 ? left : 0);
        poll(fds.data(), fds.size(), timeout);
        ++wakeups;
        USBDevice::periodic();
    }
    return wakeups;
}

class EventLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        // start the library (and its first scan), then settle the loop
        USBDevice::periodic();
    }
};

TEST_F(EventLoop, TimeoutSourceFiresThroughForeignPollLoop)
{
    int fired = 0;
    const auto start = Clock::now();
    KORVIK::main_context()->signal_timeout().connect_once([&] { ++fired; }, 150);

    std::vector<void*> handles;
    int timeout = USBDevice::get_poll_handles(handles);
    EXPECT_FALSE(handles.empty()) << "the context's wake-up descriptor is always watched";
    EXPECT_GT(timeout, 0);
    EXPECT_LE(timeout, 150);

    int wakeups = drive([&] { return fired > 0; }, std::chrono::milliseconds(3000));
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(fired, 1);
    EXPECT_GE(elapsed, 140);
    // the reported timeout lets the caller sleep until the source is due
    EXPECT_LE(wakeups, 5);

    // once fired, the one-shot source leaves nothing to wait for
    EXPECT_EQ(USBDevice::get_poll_handles(handles), -1);
}

TEST_F(EventLoop, IdleLoopReportsNoTimeoutAndNoReadyHandle)
{
    std::vector<void*> handles = {reinterpret_cast<void*>(intptr_t(12345))};
    int timeout = USBDevice::get_poll_handles(handles);
    EXPECT_EQ(timeout, -1);
    for (void* handle : handles)
        EXPECT_NE(handle, reinterpret_cast<void*>(intptr_t(12345))) << "the vector is emptied first";

    // nothing pending: a caller that waits on the handles is not woken
    auto fds = to_pollfds(handles);
    EXPECT_EQ(poll(fds.data(), fds.size(), 200), 0);
}

TEST_F(EventLoop, ReadySourceGivesZeroTimeoutAndPeriodicDispatchesAll)
{
    int idle_runs = 0;
    int timeouts = 0;
    KORVIK::main_context()->signal_idle().connect_once([&] { ++idle_runs; });
    KORVIK::main_context()->signal_timeout().connect_once([&] { ++timeouts; }, 0);

    std::vector<void*> handles;
    EXPECT_EQ(USBDevice::get_poll_handles(handles), 0);
    USBDevice::periodic();
    EXPECT_EQ(idle_runs, 1);
    EXPECT_EQ(timeouts, 1);
    EXPECT_EQ(USBDevice::get_poll_handles(handles), -1);
}

TEST_F(EventLoop, PeriodicReturnsWhileASourceStaysReady)
{
    long runs = 0;
    auto busy = KORVIK::main_context()->signal_idle().connect([&] {
        ++runs;
        return true;
    });
    USBDevice::periodic();
    EXPECT_GT(runs, 1);
    std::vector<void*> handles;
    EXPECT_EQ(USBDevice::get_poll_handles(handles), 0) << "the caller is asked to come back at once";
    const long first = runs;
    USBDevice::periodic();
    EXPECT_GT(runs, first);
    busy.disconnect();
    USBDevice::periodic();
    EXPECT_EQ(USBDevice::get_poll_handles(handles), -1);
}

TEST_F(EventLoop, DescriptorSourceIsHandedOutAndDispatched)
{
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    int reads = 0;
    auto watch = KORVIK::main_context()->signal_io().connect(
        [&](Glib::IOCondition) {
            char byte;
            if (read(pipefd[0], &byte, 1) == 1)
                ++reads;
            return true;
        },
        pipefd[0], Glib::IO_IN);

    std::vector<void*> handles;
    EXPECT_EQ(USBDevice::get_poll_handles(handles), -1);
    bool listed = false;
    for (void* handle : handles)
        listed = listed || reinterpret_cast<intptr_t>(handle) == pipefd[0];
    EXPECT_TRUE(listed);

    ASSERT_EQ(write(pipefd[1], "x", 1), 1);
    drive([&] { return reads > 0; }, std::chrono::milliseconds(2000));
    EXPECT_EQ(reads, 1);

    watch.disconnect();
    close(pipefd[0]);
    close(pipefd[1]);
}

// A packet sent between two waits: the caller asked for the handles and
// the timeout before the send, and must still be woken for its delivery.
TEST_F(EventLoop, ASendWakesACallerThatAskedBeforeIt)
{
    USBDevice::set_virtual_air(true);
    auto board = [](const char* serial) {
        std::unique_ptr<USBDevice> d(USBDevice::open_simulation(serial, serial, "RC1200", "0012340A0B0C"));
        d->load_chipdefaults();
        d->set_tx_carrierfrequency(868.3e6);
        d->set_rx_carrierfrequency(868.3e6);
        d->set_tx(0, 1e6, 8);
        d->set_rx(0, 1e6, 8, 0);
        d->commit_registers();
        return d;
    };
    auto tx = board("LOOP-TX"), rx = board("LOOP-RX");
    int heard = 0;
    auto c = rx->notify_receive_packet(sigc::slot<void(const unsigned char*, unsigned, const unsigned char*)>(
        [&](const unsigned char*, unsigned, const unsigned char*) { ++heard; }));
    for (int packet = 0; packet < 3; ++packet) {
        USBDevice::periodic();
        std::vector<void*> handles;
        const int timeout = USBDevice::get_poll_handles(handles);
        const unsigned char data[4] = {1, 2, 3, uint8_t(packet)};
        tx->send_packet(data, sizeof data, nullptr);
        auto fds = to_pollfds(handles);
        const auto start = Clock::now();
        poll(fds.data(), fds.size(), timeout < 0 || timeout > 2000 ? 2000 : timeout);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500)) << "packet " << packet;
        USBDevice::periodic();
        drive([&] { return heard > packet; }, std::chrono::milliseconds(2000));
        EXPECT_EQ(heard, packet + 1);
    }
    c.disconnect();
    tx->get_board()->leave_registry();
    rx->get_board()->leave_registry();
    USBDevice::set_virtual_air(false);
}

} // namespace
