// korvikd's service through real gRPC channels: one daemon (Unix socket and
// TLS on loopback, two simulated RC1200 on the shared air) for the program.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include <unistd.h>

#include <glib.h>

#include <korvik/USBDevice.h>

#include "Daemon.h"
#include "board/MainLoop.h"
#include "korvikd.grpc.pb.h"
#include "support/RpcOps.h"

using namespace korvikd;
using namespace korvik::rpc;

namespace {

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Shared {
    std::string dir;
    std::string token;
    std::unique_ptr<Daemon> daemon;
    std::thread thread;
};

Shared* shared = nullptr;

class DaemonEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        shared = new Shared;
        char tmpl[] = "/tmp/korvikd-test-XXXXXX";
        shared->dir = mkdtemp(tmpl);
        KORVIK::USBDevice::set_diagnostic_sink([](const std::string&) {});
        shared->token = init_credentials(shared->dir + "/tls", "localhost");
        // a second, expired token beside the first
        std::ofstream(shared->dir + "/tls/tokens", std::ios::app) << "old 0123456789abcdef0123456789 1000\n";
        DaemonOptions o;
        o.socket_path = shared->dir + "/korvikd.sock";
        o.listen = "127.0.0.1:0";
        o.cert_file = shared->dir + "/tls/server.crt";
        o.key_file = shared->dir + "/tls/server.key";
        o.tokens_file = shared->dir + "/tls/tokens";
        o.client_ca_file = shared->dir + "/tls/ca.crt";
        o.simulated = {"RC1200", "RC1200"};
        std::promise<std::string> started;
        auto result = started.get_future();
        shared->daemon = std::make_unique<Daemon>(o);
        // the daemon's thread owns the library's main context
        shared->thread = std::thread([&started] {
            try {
                shared->daemon->start();
                started.set_value("");
            } catch (const std::exception& e) {
                started.set_value(e.what());
                return;
            }
            shared->daemon->run();
        });
        ASSERT_EQ(result.get(), "");
    }
    void TearDown() override
    {
        shared->daemon->stop();
        shared->thread.join();
        shared->daemon.reset();
        std::system(("rm -rf " + shared->dir).c_str());
        delete shared;
    }
};

::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new DaemonEnvironment);

std::unique_ptr<Boards::Stub> local_stub()
{
    return Boards::NewStub(grpc::CreateChannel("unix:" + shared->dir + "/korvikd.sock",
                                               grpc::InsecureChannelCredentials()));
}

// cert: the stem of a client certificate's .crt and .key files, or empty
std::unique_ptr<Boards::Stub> tls_stub(const std::string& cert = "")
{
    grpc::SslCredentialsOptions ssl;
    ssl.pem_root_certs = read_text(shared->dir + "/tls/ca.crt");
    if (!cert.empty()) {
        ssl.pem_cert_chain = read_text(cert + ".crt");
        ssl.pem_private_key = read_text(cert + ".key");
    }
    return Boards::NewStub(grpc::CreateChannel("localhost:" + std::to_string(shared->daemon->tcp_port()),
                                               grpc::SslCredentials(ssl)));
}

void identify(grpc::ClientContext& c, const std::string& id)
{
    c.AddMetadata("korvik-client", id);
    c.AddMetadata("korvik-user", "user-" + id);
    c.AddMetadata("korvik-host", "bench");
    c.AddMetadata("korvik-program", "test");
    c.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(10));
}

grpc::Status acquire(Boards::Stub& stub, const std::string& id, const std::string& board, std::string& lease,
                     unsigned seconds = 0)
{
    grpc::ClientContext c;
    identify(c, id);
    LeaseRequest r;
    r.set_board(board);
    r.set_seconds(seconds);
    LeaseReply reply;
    grpc::Status s = stub.Acquire(&c, r, &reply);
    lease = reply.lease_id();
    return s;
}

grpc::Status release(Boards::Stub& stub, const std::string& id, const std::string& board, const std::string& lease)
{
    grpc::ClientContext c;
    identify(c, id);
    LeaseRequest r;
    r.set_board(board);
    r.set_lease_id(lease);
    Empty e;
    return stub.Release(&c, r, &e);
}

grpc::Status apply(Boards::Stub& stub, const std::string& id, OpBatch batch, OpReply& reply)
{
    grpc::ClientContext c;
    identify(c, id);
    return stub.Apply(&c, batch, &reply);
}

using rpc_test::op;

OpBatch batch(const std::string& board, const std::string& lease, std::initializer_list<Op> ops)
{
    OpBatch b;
    b.set_board(board);
    b.set_lease_id(lease);
    for (const Op& o : ops)
        *b.add_ops() = o;
    return b;
}

ListReply list(Boards::Stub& stub)
{
    grpc::ClientContext c;
    identify(c, "lister");
    ListReply reply;
    EXPECT_TRUE(stub.List(&c, ListRequest(), &reply).ok());
    return reply;
}

// the ids of the two simulated boards, in list order
std::pair<std::string, std::string> sim_boards(Boards::Stub& stub)
{
    std::vector<std::string> ids;
    const ListReply listed = list(stub);
    for (const auto& b : listed.boards())
        if (b.serial().rfind("SIM-RC1200-", 0) == 0)
            ids.push_back(b.id());
    EXPECT_EQ(ids.size(), 2u);
    return {ids.at(0), ids.at(1)};
}

// Keeps the board thread busy, as another client's slow board exchange
// would, until free() or the end of the scope.
class StuckBoardThread {
public:
    StuckBoardThread()
    {
        // the board thread keeps its own share: it may run on after this ends
        g_main_context_invoke(KORVIK::main_context()->gobj(), &StuckBoardThread::hold,
                              new std::shared_ptr<State>(state));
        for (int i = 0; i < 400 && !state->stuck; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~StuckBoardThread() { free(); }
    bool stuck() const { return state->stuck; }
    void free() { state->free = true; }

private:
    struct State {
        std::atomic<bool> stuck{false}, free{false};
    };
    static gboolean hold(gpointer data)
    {
        std::unique_ptr<std::shared_ptr<State>> share(static_cast<std::shared_ptr<State>*>(data));
        State& s = **share;
        s.stuck = true;
        while (!s.free)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return G_SOURCE_REMOVE;
    }
    std::shared_ptr<State> state = std::make_shared<State>();
};

} // namespace

TEST(Daemon, ListsItsSimulatedBoards)
{
    auto stub = local_stub();
    ListReply reply = list(*stub);
    std::set<std::string> serials;
    for (const auto& b : reply.boards()) {
        serials.insert(b.serial());
        EXPECT_EQ(b.chip(), "RC1200");
        EXPECT_EQ(b.boardflags() & 1, 1u) << "simulated";
        EXPECT_FALSE(b.has_lease());
    }
    EXPECT_EQ(serials, (std::set<std::string>{"SIM-RC1200-1", "SIM-RC1200-2"}));
}

TEST(Daemon, WritesNeedTheLeaseReadsDoNot)
{
    auto stub = local_stub();
    const std::string board = sim_boards(*stub).first;
    OpReply reply;
    grpc::Status s = apply(*stub, "a", batch(board, "", {op(Op::WRITE_REG, 0x10, 0x5A)}), reply);
    EXPECT_EQ(s.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
    EXPECT_NE(s.error_message().find("needs a lease"), std::string::npos);
    EXPECT_TRUE(apply(*stub, "a", batch(board, "", {op(Op::READ_REG, 0x10)}), reply).ok());

    std::string lease, other;
    ASSERT_TRUE(acquire(*stub, "a", board, lease).ok());
    reply.Clear();
    // a commit's writes and the read-back travel as one batch
    s = apply(*stub, "a", batch(board, lease, {op(Op::WRITE_REG, 0x10, 0x5A), op(Op::WRITE_REG, 0x11, 0xA5),
                                               op(Op::READ_REG, 0x10), op(Op::GET_ETHSTATE)}), reply);
    ASSERT_TRUE(s.ok()) << s.error_message();
    ASSERT_EQ(reply.results_size(), 2);
    EXPECT_EQ(reply.results(0).value(), 0xA55A);

    // another client: refused, told who holds it; the list shows the holder
    s = acquire(*stub, "b", board, other);
    EXPECT_EQ(s.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
    EXPECT_NE(s.error_message().find("user-a@bench (test)"), std::string::npos) << s.error_message();
    s = apply(*stub, "b", batch(board, "made-up", {op(Op::WRITE_REG, 0x10, 0)}), reply);
    EXPECT_EQ(s.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
    bool shown = false;
    const ListReply listed = list(*stub);
    for (const auto& b : listed.boards())
        if (b.id() == board) {
            shown = b.has_lease() && b.lease().user() == "user-a" && b.lease().program() == "test";
            EXPECT_GT(b.lease().end_ms(), now_ms() + 25000);
        }
    EXPECT_TRUE(shown);

    ASSERT_TRUE(release(*stub, "a", board, lease).ok());
    ASSERT_TRUE(acquire(*stub, "b", board, other).ok());
    ASSERT_TRUE(release(*stub, "b", board, other).ok());
}

TEST(Daemon, AnUnrenewedLeaseEnds)
{
    auto stub = local_stub();
    const std::string board = sim_boards(*stub).second;
    std::string lease, other;
    ASSERT_TRUE(acquire(*stub, "killed", board, lease, 1).ok());
    EXPECT_FALSE(acquire(*stub, "next", board, other).ok());
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ASSERT_TRUE(acquire(*stub, "next", board, other).ok());
    OpReply reply;
    EXPECT_FALSE(apply(*stub, "killed", batch(board, lease, {op(Op::SET_ETHSTATE, 0, 0x10)}), reply).ok());
    ASSERT_TRUE(release(*stub, "next", board, other).ok());
}

TEST(Daemon, BadRequestsAreRefused)
{
    auto stub = local_stub();
    const std::string board = sim_boards(*stub).first;
    std::string lease;
    ASSERT_TRUE(acquire(*stub, "bad", board, lease).ok());
    struct Case {
        Op op;
        grpc::StatusCode code;
    } cases[] = {
        {op(Op::WRITE_REG, 0x10000, 1), grpc::StatusCode::INVALID_ARGUMENT},
        {op(Op::WRITE_REG, 0x10, 0x100), grpc::StatusCode::INVALID_ARGUMENT},
        {op(Op::SET_FLASHDATA, 0, 0x10000), grpc::StatusCode::INVALID_ARGUMENT},
        {op(Op::SET_CHACC, 0, 0, std::string(20, '\0')), grpc::StatusCode::INVALID_ARGUMENT},
        {op(Op::WRITE_NV, 0, 0, std::string(511, '\0')), grpc::StatusCode::INVALID_ARGUMENT},
        {op(Op::SEND_PACKET, 0, 0, std::string(5000, 'x')), grpc::StatusCode::INVALID_ARGUMENT},
        {op(Op::NONE), grpc::StatusCode::INVALID_ARGUMENT},
        {op(Op::Kind(99)), grpc::StatusCode::INVALID_ARGUMENT},
    };
    for (const auto& c : cases) {
        OpReply reply;
        EXPECT_EQ(apply(*stub, "bad", batch(board, lease, {c.op}), reply).error_code(), c.code) << c.op.DebugString();
    }
    OpReply reply;
    EXPECT_EQ(apply(*stub, "bad", batch("nosuch", lease, {op(Op::READ_REG)}), reply).error_code(),
              grpc::StatusCode::NOT_FOUND);
    // the NV sector whole, both ways
    ASSERT_TRUE(apply(*stub, "bad", batch(board, lease, {op(Op::READ_NV)}), reply).ok());
    ASSERT_EQ(reply.results(0).data().size(), 512u);
    const std::string sector = reply.results(0).data();
    reply.Clear();
    ASSERT_TRUE(apply(*stub, "bad", batch(board, lease, {op(Op::WRITE_NV, 0, 0, sector), op(Op::READ_NV)}), reply).ok());
    EXPECT_EQ(reply.results(0).data(), sector);
    release(*stub, "bad", board, lease);
}

TEST(Daemon, PacketsAndRevocationReachWatchers)
{
    auto stub = local_stub();
    const auto boards = sim_boards(*stub);
    std::string lease;
    ASSERT_TRUE(acquire(*stub, "sender", boards.first, lease).ok());

    grpc::ClientContext watch;
    identify(watch, "sender");
    watch.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(20));
    auto reader = stub->Watch(&watch, WatchRequest());

    OpReply reply;
    grpc::Status s = apply(*stub, "sender", batch(boards.first, lease, {op(Op::SEND_PACKET, 0, 0, "hello air")}), reply);
    ASSERT_TRUE(s.ok()) << s.error_message();

    Event e;
    bool heard = false;
    while (!heard && reader->Read(&e))
        heard = e.board() == boards.second && e.has_packet() && e.packet().data() == "hello air";
    EXPECT_TRUE(heard);

    // revocation: refused without the administrator's token, then the holder hears of it
    auto revoke = [&](const std::string& admin) {
        grpc::ClientContext c;
        identify(c, "admin");
        if (!admin.empty())
            c.AddMetadata("korvik-admin", admin);
        RevokeRequest r;
        r.set_board(boards.first);
        Empty empty;
        return stub->Revoke(&c, r, &empty);
    };
    EXPECT_EQ(revoke("").error_message(), "permission denied");
    EXPECT_EQ(revoke(std::string(32, '0')).error_message(), "permission denied");
    ASSERT_TRUE(revoke(shared->daemon->admin_token()).ok());
    bool told = false;
    while (!told && reader->Read(&e))
        told = e.board() == boards.first && e.what_case() == Event::kRevoked;
    EXPECT_TRUE(told);
    s = apply(*stub, "sender", batch(boards.first, lease, {op(Op::SET_ETHSTATE, 0, 0x10)}), reply);
    EXPECT_EQ(s.error_code(), grpc::StatusCode::PERMISSION_DENIED);
    watch.TryCancel();
    reader->Finish();
}

TEST(Daemon, TcpNeedsAValidToken)
{
    auto stub = tls_stub();
    struct Case {
        const char* token;
        bool ok;
    } cases[] = {
        {nullptr, false},
        {"0123456789abcdef0123456789", false}, // expired
        {"wrong-token-wrong-token-wrong", false},
        {"", true}, // the first token of korvikd init
    };
    for (const auto& c : cases) {
        grpc::ClientContext ctx;
        identify(ctx, "remote");
        if (c.token)
            ctx.AddMetadata("authorization", std::string("Bearer ") + (*c.token ? c.token : shared->token.c_str()));
        ListReply reply;
        grpc::Status s = stub->List(&ctx, ListRequest(), &reply);
        EXPECT_EQ(s.ok(), c.ok) << (c.token ? c.token : "none") << ": " << s.error_message();
        if (!c.ok)
            EXPECT_EQ(s.error_message(), "permission denied");
        else
            EXPECT_GE(reply.boards_size(), 2);
    }
}

TEST(Daemon, ListenOptionsAreChecked)
{
    enum Credentials { NONE, TOKENS, CLIENT_CA, BOTH };
    struct Case {
        const char* listen;
        bool insecure, tls;
        Credentials credentials;
        bool ok;
    } cases[] = {
        {"", false, false, NONE, true},                // the Unix socket alone
        {"0.0.0.0:7000", false, false, NONE, false},   // TCP without TLS and tokens
        {"0.0.0.0:7000", true, false, NONE, false},    // --insecure off loopback
        {"127.0.0.1:7000", true, false, NONE, true},   // --insecure on loopback
        {"[::1]:7000", true, false, NONE, true},
        {"0.0.0.0:7000", false, true, TOKENS, true},
        {"0.0.0.0:7000", false, true, CLIENT_CA, true},
        {"0.0.0.0:7000", false, true, BOTH, true},
        {"0.0.0.0:7000", false, true, NONE, false},    // TLS but anyone may call
        {"127.0.0.1:7000", true, false, CLIENT_CA, false}, // no TLS, so no certificates to check
        {"7000", false, true, TOKENS, false},
    };
    for (const auto& c : cases) {
        DaemonOptions o;
        o.listen = c.listen;
        o.insecure = c.insecure;
        if (c.tls)
            o.cert_file = o.key_file = "x";
        if (c.credentials == TOKENS || c.credentials == BOTH)
            o.tokens_file = "x";
        if (c.credentials == CLIENT_CA || c.credentials == BOTH)
            o.client_ca_file = "x";
        if (c.ok)
            EXPECT_NO_THROW(check_options(o)) << c.listen << " " << c.credentials;
        else
            EXPECT_THROW(check_options(o), std::runtime_error) << c.listen << " " << c.credentials;
    }
}

TEST(Daemon, ClientCertificatesAreTheAlternativeToTokens)
{
    const std::string tls = shared->dir + "/tls", ca = tls + "/ca.crt", ca_key = tls + "/ca.key";
    // another CA's certificates are as good as none
    static bool made_other = false;
    if (!made_other)
        init_credentials(shared->dir + "/other", "localhost");
    made_other = true;
    const std::string other = shared->dir + "/other";
    issue_client_certificate(ca, ca_key, "bench-7", -60, 3600, tls + "/good.crt", tls + "/good.key");
    issue_client_certificate(ca, ca_key, "old", -7200, -3600, tls + "/expired.crt", tls + "/expired.key");
    issue_client_certificate(ca, ca_key, "soon", 3600, 7200, tls + "/early.crt", tls + "/early.key");
    issue_client_certificate(other + "/ca.crt", other + "/ca.key", "bench-7", -60, 3600, tls + "/foreign.crt",
                             tls + "/foreign.key");
    // the server's own certificate is for servers only
    std::system(("cp " + tls + "/server.crt " + tls + "/server-as-client.crt && cp " + tls + "/server.key " + tls +
                 "/server-as-client.key")
                    .c_str());
    struct Case {
        const char* cert;
        bool with_token;
        bool ok;
    } cases[] = {
        {"good", false, true},
        {"", false, false},
        {"expired", false, false},
        {"early", false, false},
        {"foreign", false, false},
        {"server-as-client", false, false},
        {"expired", true, true}, // a valid token is enough on its own
    };
    for (const auto& c : cases) {
        auto stub = tls_stub(*c.cert ? tls + "/" + c.cert : "");
        grpc::ClientContext ctx;
        identify(ctx, "remote");
        if (c.with_token)
            ctx.AddMetadata("authorization", "Bearer " + shared->token);
        ListReply reply;
        grpc::Status s = stub->List(&ctx, ListRequest(), &reply);
        EXPECT_EQ(s.ok(), c.ok) << c.cert << ": " << s.error_message();
        if (!c.ok) {
            EXPECT_EQ(s.error_message(), "permission denied") << c.cert;
        }
    }

    // the same checks without a network, at any moment
    ClientCertificates certs(read_text(ca));
    const int64_t now = now_ms() / 1000;
    std::string name;
    struct Check {
        const char* cert;
        int64_t at;
        CertCheck expect;
    } checks[] = {
        {"good", now, CertCheck::ok},
        {"good", now + 7200, CertCheck::expired},
        {"early", now, CertCheck::not_yet_valid},
        {"early", now + 5400, CertCheck::ok},
        {"foreign", now, CertCheck::untrusted},
        {"server-as-client", now, CertCheck::wrong_use},
    };
    for (const auto& c : checks) {
        name.clear();
        EXPECT_EQ(certs.check(read_text(tls + "/" + c.cert + ".crt"), c.at, name), c.expect)
            << c.cert << " at " << c.at - now;
        if (c.expect == CertCheck::ok) {
            EXPECT_EQ(name, std::string(c.cert) == "good" ? "bench-7" : "soon");
        }
    }
    EXPECT_EQ(certs.check("", now, name), CertCheck::missing);
    EXPECT_EQ(certs.check("-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n", now, name),
              CertCheck::unreadable);
    EXPECT_THROW(ClientCertificates("no certificate here"), std::runtime_error);
    EXPECT_THROW(issue_client_certificate(ca, other + "/ca.key", "x", 0, 60, tls + "/x.crt", tls + "/x.key"),
                 std::runtime_error);
}

TEST(Daemon, ListingDoesNotWaitForABusyBoardThread)
{
    // the board thread stuck in another client's slow board exchange
    StuckBoardThread busy;
    ASSERT_TRUE(busy.stuck());
    auto stub = local_stub();
    grpc::ClientContext c;
    identify(c, "lister");
    c.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(1));
    ListReply reply;
    const grpc::Status s = stub->List(&c, ListRequest(), &reply);
    EXPECT_TRUE(s.ok()) << s.error_message();
    EXPECT_GE(reply.boards_size(), 2);
    std::string lease;
    const std::string board = sim_boards(*stub).first;
    EXPECT_TRUE(acquire(*stub, "busy", board, lease).ok());
    busy.free();
    EXPECT_TRUE(release(*stub, "busy", board, lease).ok());
}

TEST(Daemon, WorkOfACallerThatWentAwayIsNotDone)
{
    // many clients coming and going: what a gone one queued must not keep
    // the living waiting, nor write to a board nobody drives any more
    auto stub = local_stub();
    const std::string board = sim_boards(*stub).second;
    std::string lease;
    ASSERT_TRUE(acquire(*stub, "quitter", board, lease).ok());
    OpReply before;
    ASSERT_TRUE(apply(*stub, "quitter", batch(board, "", {op(Op::READ_REG, 0x10)}), before).ok());
    const uint32_t old = before.results(0).value() & 0xFF;
    const uint32_t written = old ^ 0x5A;
    for (const bool all : {false, true}) {
        SCOPED_TRACE(all ? "ApplyAll" : "Apply");
        StuckBoardThread busy;
        ASSERT_TRUE(busy.stuck());
        grpc::ClientContext c;
        identify(c, "quitter");
        c.set_deadline(std::chrono::system_clock::now() + std::chrono::milliseconds(300));
        const OpBatch write = batch(board, lease, {op(Op::WRITE_REG, 0x10, written)});
        grpc::Status s;
        if (all) {
            OpBatches b;
            *b.add_batches() = write;
            OpReplies r;
            s = stub->ApplyAll(&c, b, &r);
        } else {
            OpReply r;
            s = stub->Apply(&c, write, &r);
        }
        EXPECT_EQ(s.error_code(), grpc::StatusCode::DEADLINE_EXCEEDED);
        busy.free();
        OpReply after;
        ASSERT_TRUE(apply(*stub, "quitter", batch(board, "", {op(Op::READ_REG, 0x10)}), after).ok());
        EXPECT_EQ(after.results(0).value() & 0xFF, old);
    }
    EXPECT_TRUE(release(*stub, "quitter", board, lease).ok());
}
