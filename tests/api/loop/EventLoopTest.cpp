// The library's loop driven from outside, the way a GUI toolkit drives it:
// wait on the handles and the timeout it reports, then call periodic().
#include <korvik/USBDevice.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
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

// A pipe whose read end the library's loop watches, counting the bytes read.
struct WatchedPipe {
    int fd[2] = {-1, -1};
    int reads = 0;
    sigc::connection watch;
    WatchedPipe()
    {
        if (pipe(fd) != 0)
            throw std::runtime_error("pipe");
        watch = KORVIK::main_context()->signal_io().connect(
            [this](Glib::IOCondition) {
                char byte;
                if (read(fd[0], &byte, 1) == 1)
                    ++reads;
                return true;
            },
            fd[0], Glib::IO_IN);
    }
    ~WatchedPipe()
    {
        watch.disconnect();
        close(fd[0]);
        close(fd[1]);
    }
};

TEST_F(EventLoop, DescriptorSourceIsHandedOutAndDispatched)
{
    WatchedPipe p;
    const int* pipefd = p.fd;
    const int& reads = p.reads;

    std::vector<void*> handles;
    EXPECT_EQ(USBDevice::get_poll_handles(handles), -1);
    bool listed = false;
    for (void* handle : handles)
        listed = listed || reinterpret_cast<intptr_t>(handle) == pipefd[0];
    EXPECT_TRUE(listed);

    ASSERT_EQ(write(pipefd[1], "x", 1), 1);
    drive([&] { return reads > 0; }, std::chrono::milliseconds(2000));
    EXPECT_EQ(reads, 1);
}

// What get_poll_handles() reports and what one periodic() call handles: a
// ready descriptor, and work a slot queues for the loop while it runs.
TEST_F(EventLoop, PeriodicRunsWhatIsReadyAndWhatSlotsQueue)
{
    WatchedPipe p;
    const int* pipefd = p.fd;
    const int& reads = p.reads;
    int chained = 0;
    struct Case {
        const char* name;
        std::function<void()> setup;
        int timeout;               ///< what get_poll_handles() returns
        std::function<bool()> handled; ///< after one periodic()
    };
    const Case cases[] = {
        {"descriptor ready", [&] { ASSERT_EQ(write(pipefd[1], "x", 1), 1); }, -1,
         [&] { return reads == 1; }},
        {"idle queued by an idle handler",
         [&] {
             KORVIK::main_context()->signal_idle().connect_once([&] {
                 ++chained;
                 KORVIK::main_context()->signal_idle().connect_once([&] { ++chained; });
             });
         },
         0, [&] { return chained == 2; }},
    };
    for (const Case& c : cases) {
        c.setup();
        std::vector<void*> handles;
        EXPECT_EQ(c.timeout, USBDevice::get_poll_handles(handles)) << c.name;
        USBDevice::periodic();
        EXPECT_TRUE(c.handled()) << c.name;
        EXPECT_EQ(-1, USBDevice::get_poll_handles(handles)) << c.name << ": nothing left";
    }
}

// A packet sent between two waits: the caller asked for the handles and
// the timeout before the send, and must still be woken for its delivery;
// one sent before the caller asked is covered by the timeout it got.
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
    // sent after the handles were asked for, the wait must end early; sent
    // before, the handles' timeout covers the delivery and nothing wakes the
    // wait for nothing
    const bool sent_after_handles[] = {true, true, true, false, false, true};
    int packet = 0;
    for (bool after : sent_after_handles) {
        USBDevice::periodic();
        const unsigned char data[4] = {1, 2, 3, uint8_t(packet)};
        if (!after)
            tx->send_packet(data, sizeof data, nullptr);
        std::vector<void*> handles;
        const int timeout = USBDevice::get_poll_handles(handles);
        if (after)
            tx->send_packet(data, sizeof data, nullptr);
        auto fds = to_pollfds(handles);
        if (!after) {
            EXPECT_GE(timeout, 0) << "packet " << packet;
            EXPECT_LE(timeout, 2) << "packet " << packet;
            EXPECT_EQ(0, poll(fds.data(), fds.size(), 0)) << "packet " << packet << ": woken for nothing";
        }
        const auto start = Clock::now();
        poll(fds.data(), fds.size(), timeout < 0 || timeout > 2000 ? 2000 : timeout);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500)) << "packet " << packet;
        USBDevice::periodic();
        drive([&] { return heard > packet; }, std::chrono::milliseconds(2000));
        EXPECT_EQ(heard, packet + 1) << "packet " << packet;
        ++packet;
    }
    c.disconnect();
    tx->get_board()->leave_registry();
    rx->get_board()->leave_registry();
    USBDevice::set_virtual_air(false);
}

} // namespace
