#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <glibmm/main.h>
#include <grpcpp/grpcpp.h>

#include "BoardHost.h"
#include "BoardService.h"

namespace korvikd {

struct DaemonOptions {
    /// Unix socket; empty: none.
    std::string socket_path = "/run/korvik/korvikd.sock";
    /// HOST:PORT for TCP; empty: none.
    std::string listen;
    std::string cert_file, key_file, tokens_file;
    /// CA certificates whose client certificates are let in (beside or
    /// instead of tokens).
    std::string client_ca_file;
    /// Plain TCP, allowed on loopback addresses only.
    bool insecure = false;
    /// Simulated boards to serve, one chip name each.
    std::vector<std::string> simulated;
    unsigned lease_seconds = 30;
    /// Where the administrator's token is written (0600); empty: beside the socket.
    std::string admin_token_file;
    size_t queue_capacity = 4096;
    /// Benchmarks: status reports per second from the first simulated board.
    unsigned status_rate = 0;
    /// Announce the TCP port on DNS-SD (_korvik._tcp).
    bool announce = true;
};

/// Throws std::runtime_error naming what is wrong with the options (TCP
/// without TLS and tokens, --insecure off loopback, ...).
void check_options(const DaemonOptions& options);

/// korvikd: the library's boards behind a gRPC server. Construct, start()
/// and run() on one thread, which then owns the library's main context.
class Daemon {
public:
    explicit Daemon(DaemonOptions options);
    ~Daemon();

    /// Boards, sockets, the admin token; throws std::runtime_error.
    void start();
    /// Runs the main loop until stop().
    void run();
    /// Ends run() (any thread): the gRPC server stops first, then the loop.
    void stop();

    BoardService& service() { return *board_service; }
    BoardHost& boards() { return host; }
    const std::string& admin_token() const { return admin; }
    /// The TCP port bound (when HOST:0 was asked for, the one picked).
    int tcp_port() const { return bound_port; }

private:
    DaemonOptions options;
    BoardHost host;
    std::unique_ptr<BoardService> board_service;
    std::unique_ptr<grpc::Server> server;
    Glib::RefPtr<Glib::MainLoop> loop;
    std::string admin;
    int bound_port = 0;
    std::atomic<bool> stopping{false};
    std::thread stopper;
    sigc::connection expiry_timer;
    std::shared_ptr<void> announcement;
};

/// `korvikd init DIR`: a CA, a server certificate for `host` signed by it,
/// and a token file with a first token, which it returns.
std::string init_credentials(const std::string& dir, const std::string& host);

} // namespace korvikd
