// Boards of a korvikd, run as a program of its own, through the library's
// public class: they arrive, work, hold leases, stream packets, and leave and
// come back with their server.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <grpcpp/grpcpp.h>
#include <korvik/Servers.h>
#include <korvik/USBDevice.h>

#include "board/EvUSBBoard.h"
#include "korvikd.grpc.pb.h"
#include "support/RpcOps.h"

extern char** environ;

using KORVIK::USBDevice;

namespace {

class Korvikd {
public:
    explicit Korvikd(std::vector<std::string> extra = {})
    {
        char tmpl[] = "/tmp/korvikd-remote-XXXXXX";
        dir = mkdtemp(tmpl);
        socket = dir + "/korvikd.sock";
        args = {KORVIKD_PATH, "--socket", socket, "--sim", "RC1200", "--sim", "RC1200", "--lease-seconds", "3"};
        args.insert(args.end(), extra.begin(), extra.end());
        start();
    }
    ~Korvikd()
    {
        kill(SIGKILL);
        std::system(("rm -rf " + dir).c_str());
    }
    void start()
    {
        unlink(socket.c_str());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid, KORVIKD_PATH, nullptr, nullptr, argv.data(), environ), 0);
        // ready once its socket is there and it answers a list (asking
        // earlier would put gRPC's reconnect backoff in the way)
        struct stat st;
        for (int i = 0; i < 400 && stat(socket.c_str(), &st) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        grpc::ClientContext c;
        c.set_wait_for_ready(true);
        c.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(5));
        korvik::rpc::ListReply r;
        if (raw()->List(&c, korvik::rpc::ListRequest(), &r).ok())
            return;
        FAIL() << "korvikd did not start";
    }
    void kill(int signal)
    {
        if (pid <= 0)
            return;
        ::kill(pid, signal);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    std::unique_ptr<korvik::rpc::Boards::Stub> raw() const
    {
        return korvik::rpc::Boards::NewStub(grpc::CreateChannel("unix:" + socket, grpc::InsecureChannelCredentials()));
    }
    korvik::rpc::ListReply list() const
    {
        grpc::ClientContext c;
        korvik::rpc::ListReply r;
        EXPECT_TRUE(raw()->List(&c, korvik::rpc::ListRequest(), &r).ok());
        return r;
    }
    std::string uri() const { return "unix:" + socket; }

    std::string dir, socket;
    std::vector<std::string> args;
    pid_t pid = -1;
};

/// Pumps the library's loop until done() or the time is up.
bool pump(const std::function<bool()>& done, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        USBDevice::periodic();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    USBDevice::periodic();
    return done();
}

/// Interfaces of the server's boards present now, and those that left.
struct Seen {
    explicit Seen(const std::string& prefix)
    {
        in = USBDevice::notify_device_connect(sigc::slot<void(const std::string&, const std::string&)>(
            [this, prefix](const std::string& iface, const std::string&) {
                if (iface.rfind(prefix, 0) == 0)
                    present.insert(iface);
            }));
        out = USBDevice::notify_device_disconnect(sigc::slot<void(const std::string&, const std::string&)>(
            [this, prefix](const std::string& iface, const std::string&) {
                if (iface.rfind(prefix, 0) == 0) {
                    present.erase(iface);
                    ++left;
                }
            }));
    }
    ~Seen()
    {
        in.disconnect();
        out.disconnect();
    }
    std::set<std::string> present;
    int left = 0;
    sigc::connection in, out;
};

} // namespace

TEST(RemoteBoards, ArriveWorkAndHoldTheirLease)
{
    Korvikd daemon;
    KORVIK::Servers::connect(daemon.uri());
    Seen seen(daemon.socket + "/");
    ASSERT_EQ(seen.present.size(), 2u);

    std::unique_ptr<USBDevice> d(USBDevice::open(daemon.list().boards(0).serial()));
    ASSERT_TRUE(d);
    EXPECT_TRUE(KORVIK::Servers::is_remote(*d));
    EXPECT_FALSE(d->is_dead());
    EXPECT_EQ(d->get_chip_name(), "RC1200");
    const std::string id = d->get_interface().substr(daemon.socket.size() + 1);

    // a register set here reaches the daemon's board with the commit
    const unsigned reg = 3;
    const uint8_t value = uint8_t(d->get_register_chipvalue(reg) ^ 0x01);
    d->set_register_chipvalue(reg, value);
    d->commit_registers();
    korvik::rpc::OpBatch batch;
    batch.set_board(id);
    auto* op = batch.add_ops();
    op->set_kind(korvik::rpc::Op::READ_REG);
    op->set_address(d->get_register_operatingaddr(reg));
    korvik::rpc::OpReply reply;
    grpc::ClientContext c;
    ASSERT_TRUE(daemon.raw()->Apply(&c, batch, &reply).ok());
    EXPECT_EQ(reply.results(0).value() & 0xFF, value);

    // the write took the lease, in this program's name
    bool leased = false;
    const auto listed = daemon.list();
    for (const auto& b : listed.boards())
        if (b.id() == id)
            leased = b.has_lease() && b.lease().program() == "test_remote";
    EXPECT_TRUE(leased);
    EXPECT_NE(KORVIK::Servers::lease_holder(*d).find("(test_remote) until "), std::string::npos) << KORVIK::Servers::lease_holder(*d);

    // NV store and load through the daemon
    EXPECT_NO_THROW(d->store_boarddefaults());
    EXPECT_NO_THROW(d->load_boarddefaults());

    // closing the last handle gives the lease back at once
    d.reset();
    const auto after = daemon.list();
    for (const auto& b : after.boards())
        EXPECT_FALSE(b.has_lease()) << b.id();
    EXPECT_TRUE(KORVIK::Servers::disconnect(daemon.uri()));
    EXPECT_TRUE(pump([&] { return seen.present.empty(); }, 1000));
}

TEST(RemoteBoards, PacketsCrossTheSharedAir)
{
    Korvikd daemon;
    KORVIK::Servers::connect(daemon.uri());
    Seen seen(daemon.socket + "/");
    ASSERT_EQ(seen.present.size(), 2u);
    std::unique_ptr<USBDevice> a(USBDevice::open_iface(*seen.present.begin()));
    std::unique_ptr<USBDevice> b(USBDevice::open_iface(*seen.present.rbegin()));
    std::string heard;
    sigc::connection rx = b->notify_receive_packet(sigc::slot<void(const unsigned char*, unsigned, const unsigned char*)>(
        [&](const unsigned char* data, unsigned len, const unsigned char*) { heard.assign((const char*)data, len); }));
    const std::string text = "over the daemon's air";
    a->send_packet(reinterpret_cast<const unsigned char*>(text.data()), unsigned(text.size()), nullptr);
    EXPECT_TRUE(pump([&] { return heard == text; }, 3000));
    EXPECT_EQ(b->get_rx_pkt_count(), 1u);
    rx.disconnect();
    KORVIK::Servers::disconnect(daemon.uri());
}

TEST(RemoteBoards, LeaveWithTheirServerAndComeBack)
{
    Korvikd daemon;
    KORVIK::Servers::connect(daemon.uri());
    Seen seen(daemon.socket + "/");
    ASSERT_EQ(seen.present.size(), 2u);
    std::unique_ptr<USBDevice> d(USBDevice::open_iface(*seen.present.begin()));

    daemon.kill(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(pump([&] { return seen.present.empty(); }, 2500));
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(2));
    EXPECT_TRUE(d->is_dead());
    EXPECT_EQ(seen.left, 2);
    d.reset();

    daemon.start();
    EXPECT_TRUE(pump([&] { return seen.present.size() == 2; }, 4000));
    KORVIK::Servers::disconnect(daemon.uri());
}

TEST(RemoteBoards, RefusedConnections)
{
    try {
        KORVIK::Servers::connect("unix:/nonexistent/korvikd.sock");
        FAIL() << "connected to nothing";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot connect"), std::string::npos) << e.what();
    }

    // a free port for a loopback daemon that asks for tokens
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string port = std::to_string(ntohs(addr.sin_port));
    close(s);
    char tmpl[] = "/tmp/korvikd-tokens-XXXXXX";
    const int fd = mkstemp(tmpl);
    const std::string tokens = tmpl;
    const std::string good = "0123456789abcdef0123456789abcdef";
    std::ofstream(tokens) << "ci " << good << " -\n";
    close(fd);
    Korvikd daemon({"--listen", "127.0.0.1:" + port, "--insecure", "--tokens", tokens});
    const std::string uri = "tcp://127.0.0.1:" + port;
    for (const char* query : {"", "?token=wrong-token-wrong-token"}) {
        try {
            KORVIK::Servers::connect(uri + query);
            FAIL() << "connected without a valid token";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("permission denied"), std::string::npos) << e.what();
        }
    }
    Seen seen("127.0.0.1:" + port + "/");
    KORVIK::Servers::connect(uri + "?token=" + good);
    EXPECT_EQ(seen.present.size(), 2u);
    KORVIK::Servers::disconnect(uri + "?token=" + good);
    unlink(tokens.c_str());
}

// A client that meets many boards reads them all in one call; each board must
// still open with exactly what its server's board holds, and one board's
// failure must stay its own.
TEST(RemoteBoards, OpenTogetherWithWhatTheServerHolds)
{
    Korvikd daemon;
    const korvik::rpc::ListReply listed = daemon.list();
    ASSERT_EQ(listed.boards_size(), 2);
    const std::string id = listed.boards(1).id();
    std::unique_ptr<USBDevice> local(USBDevice::open_simulation("9900077", "addresses", "RC1200", "020000000077"));
    ASSERT_TRUE(local);
    const unsigned reg = 3;
    const uint16_t address = uint16_t(local->get_register_operatingaddr(reg));
    local->get_board()->leave_registry();
    local.reset();

    // the second board changed on the server before this client connects:
    // a register and the channel-access block, under a lease given back
    auto stub = daemon.raw();
    using Op = korvik::rpc::Op;
    using rpc_test::op;
    auto apply = [&](std::vector<Op> ops, const std::string& lease = "") {
        korvik::rpc::OpBatch batch;
        batch.set_board(id);
        batch.set_lease_id(lease);
        for (const Op& o : ops)
            *batch.add_ops() = o;
        korvik::rpc::OpReply reply;
        grpc::ClientContext c;
        EXPECT_TRUE(stub->Apply(&c, batch, &reply).ok());
        return reply;
    };
    const uint8_t value = uint8_t((apply({op(Op::READ_REG, address)}).results(0).value() & 0xFF) ^ 0x01);
    std::string chacc = apply({op(Op::GET_CHACC)}).results(0).data();
    ASSERT_EQ(chacc.size(), 21u);
    chacc[1] = char(chacc[1] ^ 0x10);
    {
        korvik::rpc::LeaseReply lease;
        grpc::ClientContext c, rc;
        korvik::rpc::LeaseRequest r;
        r.set_board(id);
        ASSERT_TRUE(stub->Acquire(&c, r, &lease).ok());
        apply({op(Op::WRITE_REG, address, value), op(Op::SET_CHACC, 0, 0, chacc)}, lease.lease_id());
        r.set_lease_id(lease.lease_id());
        korvik::rpc::Empty e;
        ASSERT_TRUE(stub->Release(&rc, r, &e).ok());
    }

    // batches of one call: a read, a board that does not exist, a write
    // without the lease; only the first goes through
    {
        korvik::rpc::OpBatches all;
        for (const char* board : {id.c_str(), "nosuch", id.c_str()}) {
            auto* b = all.add_batches();
            b->set_board(board);
            *b->add_ops() = op(all.batches_size() == 3 ? Op::WRITE_REG : Op::READ_REG, address);
        }
        korvik::rpc::OpReplies r;
        grpc::ClientContext c;
        ASSERT_TRUE(stub->ApplyAll(&c, all, &r).ok());
        ASSERT_EQ(r.replies_size(), 3);
        ASSERT_EQ(r.errors_size(), 3);
        EXPECT_EQ(r.errors(0), "");
        EXPECT_EQ(r.replies(0).results(0).value() & 0xFF, value);
        EXPECT_NE(r.errors(1), "");
        EXPECT_NE(r.errors(2).find("needs a lease"), std::string::npos) << r.errors(2);
    }

    KORVIK::Servers::connect(daemon.uri());
    Seen seen(daemon.socket + "/");
    ASSERT_EQ(seen.present.size(), 2u);
    std::unique_ptr<USBDevice> d(USBDevice::open_iface(daemon.socket + "/" + id));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->get_register_chipvalue(reg), value);
    unsigned char block[9];
    unsigned char addresses[12];
    d->get_board()->get_chacc_params().get_block(block);
    d->get_board()->get_chacc_params().get_addresses(addresses);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 9) + std::string(reinterpret_cast<char*>(addresses), 12),
              chacc);

    // stored defaults come back with the next connection's joint read
    d->set_xtal_tolerance(7.5);
    d->store_boarddefaults();
    const double stored = d->get_xtal_tolerance();
    d.reset();
    ASSERT_TRUE(KORVIK::Servers::disconnect(daemon.uri()));
    ASSERT_TRUE(pump([&] { return seen.present.empty(); }, 1000));
    KORVIK::Servers::connect(daemon.uri());
    std::unique_ptr<USBDevice> again(USBDevice::open_iface(daemon.socket + "/" + id));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->get_xtal_tolerance(), stored);
    const std::string other = *seen.present.begin() == daemon.socket + "/" + id ? *seen.present.rbegin()
                                                                                : *seen.present.begin();
    std::unique_ptr<USBDevice> unchanged(USBDevice::open_iface(other));
    ASSERT_TRUE(unchanged);
    EXPECT_NE(unchanged->get_xtal_tolerance(), stored);
    KORVIK::Servers::disconnect(daemon.uri());
}
