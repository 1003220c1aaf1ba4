#include "Daemon.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <korvik/USBDevice.h>

#include "board/MainLoop.h"
#ifdef KORVIK_DNSSD
#include "Discovery.h"
#endif

extern char** environ;

namespace korvikd {

namespace {

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_private_file(const std::string& path, const std::string& text)
{
    // created without access for others, not narrowed afterwards
    const mode_t old = umask(077);
    std::ofstream out(path, std::ios::trunc);
    umask(old);
    if (!(out << text) || !out.flush())
        throw std::runtime_error("cannot write " + path);
    chmod(path.c_str(), 0600);
}

std::string directory_of(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void run_program(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot run " + args[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " " + args[1] + " failed");
}

} // namespace

void check_options(const DaemonOptions& o)
{
    if (o.socket_path.empty() && o.listen.empty())
        throw std::runtime_error("nothing to listen on: give a socket path or --listen HOST:PORT");
    if (o.listen.empty())
        return;
    if (o.listen.rfind(':') == std::string::npos)
        throw std::runtime_error("--listen takes HOST:PORT");
    if (o.insecure) {
        if (!o.client_ca_file.empty())
            throw std::runtime_error("--client-ca needs TLS, not --insecure");
        if (!is_loopback_listen(o.listen))
            throw std::runtime_error("--insecure is only allowed on a loopback address, not " + o.listen);
        return;
    }
    if (o.cert_file.empty() || o.key_file.empty() || (o.tokens_file.empty() && o.client_ca_file.empty()))
        throw std::runtime_error("--listen needs TLS and client credentials: --cert, --key and --tokens or "
                                 "--client-ca (make them with korvikd init DIR), or --insecure on a loopback "
                                 "address");
}

Daemon::Daemon(DaemonOptions options_) : options(std::move(options_))
{
}

Daemon::~Daemon()
{
    stop();
    if (stopper.joinable())
        stopper.join();
    expiry_timer.disconnect();
}

void Daemon::start()
{
    check_options(options);
    ServiceConfig config;
    if (!options.tokens_file.empty())
        config.tokens = load_tokens(options.tokens_file);
    if (!options.client_ca_file.empty())
        config.client_certs = std::make_shared<ClientCertificates>(read_file(options.client_ca_file));
    config.open_tcp = options.insecure && options.tokens_file.empty() && options.client_ca_file.empty();
    config.lease_default_ms = int64_t(options.lease_seconds) * 1000;
    config.lease_max_ms = std::max<int64_t>(config.lease_default_ms, 300000);
    config.queue_capacity = options.queue_capacity;
    admin = random_id();
    config.admin_token = admin;
    board_service = std::make_unique<BoardService>(host, config);

    host.on_board_removed = [this](const std::string& board) { board_service->leases().forget(board); };
    KORVIK::USBDevice::set_virtual_air(true);
    host.start();
    for (const auto& chip : options.simulated)
        host.add_simulated(chip);
    host.start_status_source(options.status_rate);

    grpc::ServerBuilder builder;
    // reads and writes are small; a packet or NV sector is the largest message
    builder.SetMaxReceiveMessageSize(1 << 20);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, 1000);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 1000);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 500);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PING_STRIKES, 0);
    if (!options.socket_path.empty()) {
        if (unlink(options.socket_path.c_str()) != 0 && errno != ENOENT)
            throw std::runtime_error("cannot remove the old socket " + options.socket_path + ": " + strerror(errno));
        builder.AddListeningPort("unix:" + options.socket_path, grpc::InsecureServerCredentials());
    }
    if (!options.listen.empty()) {
        std::shared_ptr<grpc::ServerCredentials> credentials;
        if (options.insecure) {
            credentials = grpc::InsecureServerCredentials();
        } else {
            grpc::SslServerCredentialsOptions ssl;
            ssl.pem_key_cert_pairs.push_back({read_file(options.key_file), read_file(options.cert_file)});
            if (config.client_certs) {
                // asked for but checked by the service, which answers a bad
                // certificate with "permission denied" instead of a failed
                // handshake the client cannot tell from a network fault
                ssl.pem_root_certs = read_file(options.client_ca_file);
                ssl.client_certificate_request = GRPC_SSL_REQUEST_CLIENT_CERTIFICATE_BUT_DONT_VERIFY;
            }
            credentials = grpc::SslServerCredentials(ssl);
        }
        builder.AddListeningPort(options.listen, credentials, &bound_port);
    }
    builder.RegisterService(board_service.get());
    server = builder.BuildAndStart();
    if (!server)
        throw std::runtime_error("cannot listen on " +
                                 (options.socket_path.empty() ? options.listen : options.socket_path));
    if (!options.socket_path.empty()) {
        // local programs reach the boards through the group, not root
        chmod(options.socket_path.c_str(), 0660);
        if (struct group* g = getgrnam("korvik"))
            if (chown(options.socket_path.c_str(), uid_t(-1), g->gr_gid) != 0)
                std::fprintf(stderr, "korvikd: cannot give %s to group korvik: %s\n", options.socket_path.c_str(),
                             strerror(errno));
    }
    std::string token_file = options.admin_token_file;
    if (token_file.empty())
        token_file = directory_of(options.socket_path.empty() ? std::string("/run/korvik/x") : options.socket_path) +
                     "/admin-token";
    write_private_file(token_file, admin + "\n");

#ifdef KORVIK_DNSSD
    // a loopback port is no use to another host
    if (!options.listen.empty() && options.announce && !is_loopback_listen(options.listen)) {
        char host[256] = {0};
        gethostname(host, sizeof host - 1);
        announcement = std::make_shared<Announcement>(std::string("korvikd on ") + host, bound_port,
                                                      !options.insecure);
    }
#endif
    loop = Glib::MainLoop::create(KORVIK::main_context());
    expiry_timer = KORVIK::main_context()->signal_timeout().connect(
        [this] {
            board_service->expire_leases();
            return true;
        },
        1000);
}

void Daemon::run()
{
    if (loop && !stopping)
        loop->run();
}

void Daemon::stop()
{
    if (stopping.exchange(true))
        return;
    // in-flight calls wait for the board thread: stop the server from a
    // thread of its own while the loop still runs, then end the loop
    stopper = std::thread([this] {
        host.close_subscribers();
        if (server)
            server->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(2));
        if (loop)
            loop->quit();
    });
}

std::string init_credentials(const std::string& dir, const std::string& host)
{
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot make " + dir + ": " + strerror(errno));
    const std::string ca_key = dir + "/ca.key", ca_crt = dir + "/ca.crt";
    const std::string key = dir + "/server.key", csr = dir + "/server.csr", crt = dir + "/server.crt";
    const std::string ext = dir + "/server.ext", tokens = dir + "/tokens";
    struct stat st;
    if (stat(tokens.c_str(), &st) == 0 || stat(crt.c_str(), &st) == 0)
        throw std::runtime_error(dir + " already holds credentials; remove them first");
    const mode_t old = umask(077);
    try {
        run_program({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                     "-nodes", "-keyout", ca_key, "-out", ca_crt, "-days", "3650", "-subj", "/CN=korvikd CA"});
        run_program({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                     "-keyout", key, "-out", csr, "-subj", "/CN=" + host});
        std::ofstream(ext) << "subjectAltName=DNS:" << host << ",DNS:localhost,IP:127.0.0.1\n"
                           << "extendedKeyUsage=serverAuth\n";
        run_program({"openssl", "x509", "-req", "-in", csr, "-CA", ca_crt, "-CAkey", ca_key, "-CAcreateserial",
                     "-out", crt, "-days", "825", "-extfile", ext});
    } catch (...) {
        umask(old);
        throw;
    }
    umask(old);
    unlink(csr.c_str());
    unlink(ext.c_str());
    const std::string token = random_id() + random_id();
    write_private_file(tokens, "# NAME TOKEN [EXPIRES in Unix seconds]\nfirst " + token + " -\n");
    return token;
}

} // namespace korvikd
