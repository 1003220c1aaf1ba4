// korvikd against the direct path, interleaved in one run:
//   set+commit  one parameter (tx power, alternating) and its commit on a
//               simulated RC1200: in process, through the Unix socket, over
//               TLS on loopback (median, p99, range of round medians);
//   list        connecting to a daemon that serves 64 boards until all 64
//               are boards of this process;
//   status      status reports a daemon sends at a rate it is asked for,
//               counted here (lost = sent - received).
// Usage: bench_daemon [ROUNDS] [SETS_PER_ROUND]

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <korvik/Servers.h>
#include <korvik/USBDevice.h>

extern char** environ;

using KORVIK::USBDevice;
using Clock = std::chrono::steady_clock;

namespace {

std::string dir;

pid_t spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    return pid;
}

void wait_for(const std::string& path)
{
    struct stat st;
    for (int i = 0; i < 2000 && stat(path.c_str(), &st) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

int free_port()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void pump(int ms, const std::function<bool()>& done = nullptr)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        USBDevice::periodic();
        if (done && done())
            return;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

double set_commit_us(USBDevice& d, int i)
{
    const auto t0 = Clock::now();
    d.set_tx_power(i % 2 ? 7.0 : 5.0);
    d.commit_registers();
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int sets = argc > 2 ? std::atoi(argv[2]) : 200;
    USBDevice::set_diagnostic_sink([](const std::string&) {});
    char tmpl[] = "/tmp/korvikd-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    const std::string sock = dir + "/korvikd.sock";
    const int port = free_port();

    // credentials for TLS, by the daemon's own init
    std::string token;
    {
        const std::string out = dir + "/init.txt";
        pid_t p = spawn({"/bin/sh", "-c", std::string(KORVIKD_PATH) + " init " + dir + "/tls > " + out});
        waitpid(p, nullptr, 0);
        std::ifstream in(out);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("First client token: ", 0) == 0)
                token = line.substr(20);
    }
    std::vector<std::string> args = {KORVIKD_PATH, "--socket", sock, "--listen", "127.0.0.1:" + std::to_string(port),
                                     "--cert", dir + "/tls/server.crt", "--key", dir + "/tls/server.key",
                                     "--tokens", dir + "/tls/tokens"};
    for (int i = 0; i < 64; ++i) {
        args.push_back("--sim");
        args.push_back("RC1200");
    }
    pid_t daemon = spawn(args);
    wait_for(sock);

    // ---- 64 boards listed: connect until every board is one of this process
    std::vector<double> list_ms;
    for (int r = 0; r < rounds; ++r) {
        int seen = 0;
        sigc::connection counting = USBDevice::notify_device_connect(
            sigc::slot<void(const std::string&, const std::string&)>([&](const std::string& iface, const std::string&) {
                seen += iface.rfind(sock + "/", 0) == 0;
            }));
        const auto t0 = Clock::now();
        KORVIK::Servers::connect("unix:" + sock);
        list_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        counting.disconnect();
        if (seen < 64)
            std::fprintf(stderr, "only %d boards\n", seen);
        KORVIK::Servers::disconnect("unix:" + sock);
        pump(50);
    }

    // ---- set+commit, interleaved per round
    KORVIK::Servers::connect("unix:" + sock);
    const std::string tls = "tls://localhost:" + std::to_string(port) + "?token=" + token + "&ca=" + dir + "/tls/ca.crt";
    KORVIK::Servers::connect(tls);
    std::unique_ptr<USBDevice> local(USBDevice::open_simulation("bench-local", "bench", "RC1200", "020000000001"));
    std::unique_ptr<USBDevice> viaunix(USBDevice::open_iface(sock + "/sim0"));
    std::unique_ptr<USBDevice> viatls(USBDevice::open_iface("localhost:" + std::to_string(port) + "/sim1"));
    if (!local || !viaunix || !viatls) {
        std::fprintf(stderr, "cannot open the boards\n");
        kill(daemon, SIGKILL);
        return 1;
    }
    std::vector<double> all[3], medians[3];
    USBDevice* devices[3] = {local.get(), viaunix.get(), viatls.get()};
    for (auto* d : devices)
        for (int i = 0; i < 20; ++i)
            set_commit_us(*d, i);
    for (int r = 0; r < rounds; ++r)
        for (int k = 0; k < 3; ++k) {
            std::vector<double> one;
            for (int i = 0; i < sets; ++i)
                one.push_back(set_commit_us(*devices[k], i));
            medians[k].push_back(percentile(one, 0.5));
            all[k].insert(all[k].end(), one.begin(), one.end());
        }
    const char* names[3] = {"in process", "unix socket", "TLS loopback"};
    std::printf("set+commit (%d rounds x %d, interleaved; not pinned)\n", rounds, sets);
    for (int k = 0; k < 3; ++k)
        std::printf("  %-13s median %8.1f us  p99 %8.1f us  round medians %.1f..%.1f us\n", names[k],
                    percentile(all[k], 0.5), percentile(all[k], 0.99),
                    *std::min_element(medians[k].begin(), medians[k].end()),
                    *std::max_element(medians[k].begin(), medians[k].end()));
    std::printf("64 boards listed (connect until all are present, %d runs): median %.1f ms, range %.1f..%.1f ms\n",
                rounds, percentile(list_ms, 0.5), *std::min_element(list_ms.begin(), list_ms.end()),
                *std::max_element(list_ms.begin(), list_ms.end()));
    local.reset();
    viaunix.reset();
    viatls.reset();
    KORVIK::Servers::disconnect("unix:" + sock);
    KORVIK::Servers::disconnect(tls);

#ifdef KORVIK_PATH
    // ---- korvik list as a program: through the daemon (64 boards) against
    // the same program listing in process (no boards: its start-up is the floor)
    std::vector<double> cli[2];
    const std::string quiet = " > /dev/null 2>&1";
    const std::string runs[2] = {std::string(KORVIK_PATH) + " list" + quiet,
                                 std::string(KORVIK_PATH) + " --server unix:" + sock + " list" + quiet};
    for (int r = 0; r < rounds * 2; ++r)
        for (int k = 0; k < 2; ++k) {
            const auto t0 = Clock::now();
            pid_t p = spawn({"/bin/sh", "-c", "exec " + runs[k]});
            waitpid(p, nullptr, 0);
            cli[k].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
    const char* cli_names[2] = {"in process (floor)", "through korvikd"};
    std::printf("korvik list (%d runs each, interleaved, not pinned)\n", rounds * 2);
    for (int k = 0; k < 2; ++k)
        std::printf("  %-19s median %6.1f ms  range %.1f..%.1f ms\n", cli_names[k], percentile(cli[k], 0.5),
                    *std::min_element(cli[k].begin(), cli[k].end()), *std::max_element(cli[k].begin(), cli[k].end()));
#endif
    kill(daemon, SIGTERM);
    waitpid(daemon, nullptr, 0);

    // ---- status reports at 3000/s from a second daemon, counted here
    const std::string sock2 = dir + "/status.sock";
    const unsigned rate = 3000;
    pid_t source = spawn({KORVIKD_PATH, "--socket", sock2, "--sim", "RC1200", "--status-rate", std::to_string(rate)});
    wait_for(sock2);
    std::vector<double> received_per_s;
    uint64_t lost_total = 0;
    KORVIK::Servers::connect("unix:" + sock2);
    std::unique_ptr<USBDevice> board(USBDevice::open_iface(sock2 + "/sim0"));
    if (board) {
        for (int r = 0; r < rounds; ++r) {
            uint64_t count = 0, first = 0, last = 0;
            bool any = false;
            sigc::connection c = board->notify_status([&](const KORVIK::USBDeviceStatus& s) {
                const uint64_t seq = uint64_t(s.value2) | uint64_t(s.value3) << 16;
                if (!any)
                    first = seq;
                any = true;
                last = seq;
                ++count;
            });
            const auto t0 = Clock::now();
            pump(1000);
            const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
            c.disconnect();
            received_per_s.push_back(double(count) / secs);
            if (any)
                lost_total += (last - first + 1) - count;
        }
        std::printf("status at %u/s asked (%d runs of 1 s): received median %.0f/s, range %.0f..%.0f/s, lost %llu\n",
                    rate, rounds, percentile(received_per_s, 0.5),
                    *std::min_element(received_per_s.begin(), received_per_s.end()),
                    *std::max_element(received_per_s.begin(), received_per_s.end()),
                    (unsigned long long)lost_total);
    }
    board.reset();
    kill(source, SIGTERM);
    waitpid(source, nullptr, 0);
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
