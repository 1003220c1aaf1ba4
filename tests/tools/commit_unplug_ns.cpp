// `korvik set` on an emulated board that is unplugged in the middle of the
// commit: the report names what reached the board and what did not. The
// link goes away from inside the signal of the second register written, so
// the third write is the first one to fail. Runs in the private network
// namespace of run_ns_tests.sh, with korvik-board-emu as the board.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <korvik/USBDevice.h>

#include "Command.h"

using namespace korvik_cli;

namespace {

void sh(const std::string& command)
{
    ASSERT_EQ(0, std::system(command.c_str())) << command;
}

size_t count_names(const std::string& list)
{
    if (list == "none")
        return 0;
    size_t n = 1;
    for (char c : list)
        n += c == ',';
    return n;
}

std::string line_after(const std::string& text, const std::string& head)
{
    const size_t at = text.find(head);
    if (at == std::string::npos)
        return "";
    const size_t start = at + head.size();
    return text.substr(start, text.find('\n', start) - start);
}

} // namespace

TEST(KorvikCommit, BoardUnpluggedHalfWayIsReportedRegisterByRegister)
{
    const char* netns = std::getenv("KORVIK_TEST_NETNS");
    ASSERT_TRUE(netns && std::string(netns) == "1") << "run through run_ns_tests.sh";
    const char* emulator = std::getenv("KORVIK_BOARD_EMU");
    ASSERT_NE(nullptr, emulator);

    sh("ip link add name kd0 type veth peer name kd0p && ip link set kd0p up");
    const pid_t emu = fork();
    ASSERT_GE(emu, 0);
    if (emu == 0) {
        execl(emulator, emulator, "kd0p", "1000009", static_cast<char*>(nullptr));
        _exit(127);
    }
    sh("ip link set kd0 alias 'Zelvane Inc. RC1200 Evaluation Board' && ip link set kd0 up");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::string report;
    unsigned written = 0;
    {
        // a handle of our own on the same board: its register signal comes
        // before the command's, as it was connected first
        std::unique_ptr<KORVIK::USBDevice> watcher(KORVIK::USBDevice::open("1000009"));
        ASSERT_NE(nullptr, watcher);
        sigc::connection unplug = watcher->notify_changed_register([&](unsigned, unsigned char, unsigned char) {
            if (++written == 2)
                sh("ip link del kd0");
        });

        CLI::App app;
        Options options;
        std::vector<std::unique_ptr<Command>> commands = make_commands();
        Command* set = nullptr;
        for (auto& c : commands)
            if (std::string(c->name()) == "set") {
                c->setup(*app.add_subcommand(c->name(), c->summary()));
                set = c.get();
            }
        ASSERT_NE(nullptr, set);
        // CLI11 takes the words last first
        std::vector<std::string> args = {"rx_bitrate=19k2", "tx_bitrate=19k2", "tx_carrierfrequency=868.3MHz",
                                         "1000009", "set"};
        app.parse(args);
        try {
            set->run(options);
            ADD_FAILURE() << "the commit did not fail";
        } catch (const Failure& e) {
            report = e.what();
        }
        unplug.disconnect();
    }
    kill(emu, SIGTERM);
    waitpid(emu, nullptr, 0);

    EXPECT_NE(std::string::npos, report.find("board '1000009' failed during the commit.")) << report;
    // the two registers written before the link went, and every later one lost
    EXPECT_EQ(2u, count_names(line_after(report, "registers written: "))) << report;
    const size_t lost = count_names(line_after(report, "registers lost:    "));
    EXPECT_GE(lost, 1u) << report;
    EXPECT_EQ(written, 2 + lost) << report;
    EXPECT_NE("nothing", line_after(report, "did not reach it:  ")) << report;
}
