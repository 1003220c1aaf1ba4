// korvikd: serves this host's boards to unprivileged and remote programs.

#include <csignal>
#include <fstream>
#include <iostream>
#include <thread>

#include <pthread.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <grpcpp/grpcpp.h>

#include <korvik/USBDevice.h>

#include "Daemon.h"
#include "korvikd.grpc.pb.h"

using namespace korvikd;

namespace {

int revoke(const std::string& socket_path, const std::string& token_file, const std::string& board)
{
    std::ifstream in(token_file);
    std::string token;
    if (!(in >> token)) {
        std::cerr << "korvikd revoke: cannot read the administrator's token " << token_file
                  << " (it is readable by the daemon's user and root only)" << std::endl;
        return 1;
    }
    auto stub = korvik::rpc::Boards::NewStub(
        grpc::CreateChannel("unix:" + socket_path, grpc::InsecureChannelCredentials()));
    grpc::ClientContext context;
    context.AddMetadata("korvik-admin", token);
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(5));
    korvik::rpc::RevokeRequest request;
    request.set_board(board);
    korvik::rpc::Empty reply;
    grpc::Status s = stub->Revoke(&context, request, &reply);
    if (!s.ok()) {
        std::cerr << "korvikd revoke: " << s.error_message() << std::endl;
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Serves this host's boards (real, emulated and simulated, with one shared virtual air) "
                 "over gRPC, to local programs through a Unix socket and to remote ones over TLS.",
                 "korvikd"};
    DaemonOptions options;
    bool verbose = false;
    std::string admin_file;
    app.add_option("--socket", options.socket_path, "Unix socket to listen on (empty: none)")
        ->capture_default_str();
    app.add_option("--listen", options.listen, "Also listen on HOST:PORT over TLS");
    app.add_option("--cert", options.cert_file, "Server certificate (PEM) for --listen");
    app.add_option("--key", options.key_file, "Server key (PEM) for --listen");
    app.add_option("--tokens", options.tokens_file, "Client tokens, one \"NAME TOKEN [EXPIRES]\" a line");
    app.add_option("--client-ca", options.client_ca_file,
                   "Let in TLS clients whose certificate this CA signed (beside or instead of --tokens)");
    app.add_flag("--insecure", options.insecure, "Plain TCP without tokens, on a loopback address only");
    app.add_option("--sim", options.simulated, "Serve a simulated board of this chip (repeatable)");
    app.add_option("--lease-seconds", options.lease_seconds, "Default lease time")->capture_default_str()
        ->check(CLI::Range(1u, 3600u));
    app.add_option("--admin-token-file", admin_file, "Where the administrator's token goes "
                                                     "(default: admin-token beside the socket)");
    app.add_flag("-v,--verbose", verbose, "Show the library's diagnostic lines");
    bool quiet_dnssd = false;
    app.add_flag("--no-announce", quiet_dnssd, "Do not announce --listen on DNS-SD (_korvik._tcp)");
    app.add_option("--status-rate", options.status_rate,
                   "For benchmarks: the first simulated board sends this many status reports a second");

    std::string init_dir, init_host = "localhost";
    CLI::App* init = app.add_subcommand("init", "Make a CA, a server certificate and a first client token");
    init->add_option("DIR", init_dir, "Directory for the files")->required();
    init->add_option("--host", init_host, "Host name the certificate is for")->capture_default_str();
    std::string client_dir, client_name;
    unsigned client_days = 365;
    CLI::App* client = app.add_subcommand("client", "Issue a client certificate from the CA of korvikd init DIR");
    client->add_option("DIR", client_dir, "Directory korvikd init made")->required();
    client->add_option("NAME", client_name, "Who the certificate is for (its common name)")->required();
    client->add_option("--days", client_days, "How long it is valid")->capture_default_str()
        ->check(CLI::Range(1u, 3650u));
    std::string revoke_board;
    CLI::App* revoke_cmd = app.add_subcommand("revoke", "End the lease on a board at once (administrator)");
    // the daemon's --socket and --admin-token-file may follow the command
    revoke_cmd->fallthrough();
    revoke_cmd->add_option("BOARD", revoke_board, "The board's id on this daemon")->required();
    app.require_subcommand(0, 1);
    CLI11_PARSE(app, argc, argv);
    options.admin_token_file = admin_file;
    options.announce = !quiet_dnssd;

    if (*init) {
        try {
            std::string token = init_credentials(init_dir, init_host);
            std::cout << "Made " << init_dir << "/ca.crt, server.crt, server.key and tokens.\n"
                      << "Start: korvikd --listen HOST:PORT --cert " << init_dir << "/server.crt --key " << init_dir
                      << "/server.key --tokens " << init_dir << "/tokens\n"
                      << "First client token: " << token << std::endl;
            return 0;
        } catch (const std::exception& e) {
            std::cerr << "korvikd init: " << e.what() << std::endl;
            return 1;
        }
    }
    if (*client) {
        try {
            // a name becomes a file name: keep it to a plain word
            if (client_name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") !=
                    std::string::npos ||
                client_name[0] == '.')
                throw std::runtime_error("NAME takes letters, digits, '.', '_' and '-'");
            const std::string crt = client_dir + "/" + client_name + ".crt", key = client_dir + "/" + client_name + ".key";
            if (access(crt.c_str(), F_OK) == 0 || access(key.c_str(), F_OK) == 0)
                throw std::runtime_error(crt + " already exists; remove it first");
            issue_client_certificate(client_dir + "/ca.crt", client_dir + "/ca.key", client_name, 0,
                                     int64_t(client_days) * 86400, crt, key);
            std::cout << "Made " << crt << " and " << key << ".\n"
                      << "Start: korvikd ... --client-ca " << client_dir << "/ca.crt\n"
                      << "Connect: korvik --server 'tls://HOST:PORT?ca=" << client_dir << "/ca.crt&cert=" << crt
                      << "&key=" << key << "' list" << std::endl;
            return 0;
        } catch (const std::exception& e) {
            std::cerr << "korvikd client: " << e.what() << std::endl;
            return 1;
        }
    }
    if (*revoke_cmd) {
        std::string file = admin_file;
        if (file.empty()) {
            auto slash = options.socket_path.rfind('/');
            file = (slash == std::string::npos ? std::string(".") : options.socket_path.substr(0, slash)) +
                   "/admin-token";
        }
        return revoke(options.socket_path, file, revoke_board);
    }

    if (!verbose)
        KORVIK::USBDevice::set_diagnostic_sink([](const std::string&) {});

    // signals go to one waiting thread, not to whichever gRPC thread runs
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Daemon daemon(options);
    try {
        daemon.start();
    } catch (const std::exception& e) {
        std::cerr << "korvikd: " << e.what() << std::endl;
        return 1;
    }
    std::thread waiter([&daemon, signals] {
        int signal = 0;
        sigwait(&signals, &signal);
        daemon.stop();
    });
    waiter.detach();
    std::cerr << "korvikd: serving" << (options.socket_path.empty() ? "" : " on " + options.socket_path)
              << (options.listen.empty() ? "" : " and " + options.listen) << std::endl;
    daemon.run();
    if (!options.socket_path.empty())
        unlink(options.socket_path.c_str());
    return 0;
}
