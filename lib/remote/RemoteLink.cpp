#include "remote/RemoteLink.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <errno.h>
#include <glib.h>
#include <pwd.h>
#include <unistd.h>

#include "registry/Library.h"
#include "board/MainLoop.h"
#include "model/common/Diagnostics.h"
#include "remote/RemoteBoard.h"

namespace KORVIK {

using korvik::rpc::Event;

namespace {

int64_t monotonic_ms()
{
    return g_get_monotonic_time() / 1000;
}

std::string random_client_id()
{
    std::random_device device;
    std::ostringstream id;
    id << std::hex << device() << device() << device() << device();
    return id.str();
}

std::string user_name()
{
    if (struct passwd* pw = getpwuid(getuid()))
        return pw->pw_name;
    return std::to_string(getuid());
}

std::string host_name()
{
    char name[256] = {0};
    gethostname(name, sizeof name - 1);
    return name;
}

std::string read_file(const std::string& path, const char* what)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string("cannot read the ") + what + " " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

USBDeviceStatus status_of(const korvik::rpc::Status& in)
{
    USBDeviceStatus s;
    s.time_sec = in.time_sec();
    s.time_usec = in.time_usec();
    s.ticks = uint16_t(in.ticks());
    s.value1 = uint16_t(in.value1());
    s.value2 = uint16_t(in.value2());
    s.value3 = uint16_t(in.value3());
    s.progstate = uint8_t(in.progstate());
    s.progdetail = uint8_t(in.progdetail());
    s.aux1 = uint8_t(in.aux1());
    s.aux2 = uint8_t(in.aux2());
    s.aux3 = uint8_t(in.aux3());
    bool* flags[8] = {&s.flag0, &s.flag1, &s.flag2, &s.flag3, &s.flag4, &s.flag5, &s.flag6, &s.flag7};
    for (unsigned i = 0; i < 8; ++i)
        *flags[i] = (in.flags() >> i) & 1;
    return s;
}

// what the watch thread hands to the main context; a link that went away
// leaves owner null, and late deliveries then do nothing
const size_t INBOX_LIMIT = 65536;

} // namespace

struct RemoteLink::Inbox {
    std::mutex mutex;
    RemoteLink* owner = nullptr;
    std::deque<Event> events;
    bool scheduled = false;
    bool ended = false;
    uint64_t overflow = 0;
    std::atomic<int64_t> last_ms{0};
    grpc::ClientContext* context = nullptr;
};

namespace {

std::shared_ptr<grpc::Channel> make_channel(const ServerUri& uri)
{
    grpc::ChannelArguments args;
    // a silent peer shows within the lost-link time even on an idle channel
    args.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, 1000);
    args.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 1000);
    args.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
    args.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
    args.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 200);
    args.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 1000);
    std::shared_ptr<grpc::ChannelCredentials> credentials;
    if (uri.kind == ServerUri::TLS) {
        grpc::SslCredentialsOptions ssl;
        if (!uri.ca_file.empty())
            ssl.pem_root_certs = read_file(uri.ca_file, "CA file");
        if (uri.cert_file.empty() != uri.key_file.empty())
            throw std::runtime_error("korvikd at " + uri.text + ": a client certificate needs both cert and key");
        if (!uri.cert_file.empty()) {
            ssl.pem_cert_chain = read_file(uri.cert_file, "client certificate");
            ssl.pem_private_key = read_file(uri.key_file, "client key");
        }
        credentials = grpc::SslCredentials(ssl);
    } else {
        credentials = grpc::InsecureChannelCredentials();
    }
    return grpc::CreateCustomChannel(uri.target, credentials, args);
}

void add_metadata(grpc::ClientContext& context, const ServerUri& uri, const std::string& client_id, int timeout_ms)
{
    if (!uri.token.empty())
        context.AddMetadata("authorization", "Bearer " + uri.token);
    context.AddMetadata("korvik-client", client_id);
    static const std::string user = user_name(), host = host_name();
    context.AddMetadata("korvik-user", user);
    context.AddMetadata("korvik-host", host);
    context.AddMetadata("korvik-program", program_invocation_short_name);
    if (timeout_ms > 0)
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::milliseconds(timeout_ms));
}

std::string list_error(const grpc::Status& s)
{
    return s.error_code() == grpc::StatusCode::UNAVAILABLE || s.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED
               ? "cannot connect (" + s.error_message() + ")"
               : s.error_message();
}

} // namespace

std::string RemoteLink::check(const ServerUri& uri, int timeout_ms)
{
    try {
        auto stub = korvik::rpc::Boards::NewStub(make_channel(uri));
        grpc::ClientContext context;
        add_metadata(context, uri, random_client_id(), timeout_ms);
        korvik::rpc::ListReply reply;
        const grpc::Status s = stub->List(&context, korvik::rpc::ListRequest(), &reply);
        return s.ok() ? std::string() : "korvikd at " + uri.text + ": " + list_error(s);
    } catch (const std::exception& e) {
        return e.what();
    }
}

RemoteLink::RemoteLink(Library* library_, const ServerUri& uri_)
    : library(library_), uri(uri_), client_id(random_client_id())
{
    channel = make_channel(uri);
    stub = korvik::rpc::Boards::NewStub(channel);
    std::string error;
    if (!connect(error, 2000)) {
        stop_watch();
        throw std::runtime_error("korvikd at " + uri.text + ": " + error);
    }
    tick = main_context()->signal_timeout().connect(sigc::mem_fun(*this, &RemoteLink::on_tick), 250);
}

RemoteLink::~RemoteLink()
{
    tick.disconnect();
    stop_watch();
    auto copy = boards;
    boards.clear();
    // detached first: losing the board may delete it
    for (auto& entry : copy) {
        entry.second->detach();
        entry.second->lose("disconnected from " + uri.text);
    }
}

void RemoteLink::setup(grpc::ClientContext& context, int timeout_ms) const
{
    add_metadata(context, uri, client_id, timeout_ms);
}

bool RemoteLink::connect(std::string& error, int timeout_ms)
{
    // the watch first: a board that comes between the list and the watch
    // still arrives as an event
    start_watch();
    korvik::rpc::ListReply reply;
    grpc::ClientContext context;
    setup(context, timeout_ms);
    grpc::Status s = stub->List(&context, korvik::rpc::ListRequest(), &reply);
    if (!s.ok()) {
        error = list_error(s);
        stop_watch();
        return false;
    }
    connected = true;
    listed_ms = monotonic_ms();
    leases.clear();
    std::map<std::string, RemoteBoard::Initial> initial = fetch_initial(reply, timeout_ms);

    for (const auto& info : reply.boards()) {
        if (info.has_lease())
            leases[info.id()] = info.lease().user() + "@" + info.lease().host() + " (" + info.lease().program() +
                                ")" + "\t" + std::to_string(info.lease().end_ms());
        if (!boards.count(info.id())) {
            auto it = initial.find(info.id());
            add_board(info, it == initial.end() ? RemoteBoard::Initial() : std::move(it->second));
        }
    }
    return true;
}

std::map<std::string, RemoteBoard::Initial> RemoteLink::fetch_initial(const korvik::rpc::ListReply& list,
                                                                      int timeout_ms)
{
    std::map<std::string, RemoteBoard::Initial> initial;
    korvik::rpc::OpBatches request;
    std::vector<std::vector<korvik::rpc::Op>> reads;
    for (const auto& info : list.boards()) {
        if (boards.count(info.id()))
            continue;
        reads.push_back(RemoteBoard::initial_reads(info.chip()));
        korvik::rpc::OpBatch* batch = request.add_batches();
        batch->set_board(info.id());
        for (const auto& op : reads.back())
            *batch->add_ops() = op;
    }
    if (request.batches_size() < 2)
        return initial;
    korvik::rpc::OpReplies reply;
    grpc::ClientContext context;
    setup(context, timeout_ms > 0 ? timeout_ms : CALL_TIMEOUT_MS);
    // a server without ApplyAll, or one that fails it, leaves each board
    // to read for itself as it opens
    if (!stub->ApplyAll(&context, request, &reply).ok() || reply.replies_size() != request.batches_size())
        return initial;
    for (int i = 0; i < request.batches_size(); ++i)
        if (i < reply.errors_size() && reply.errors(i).empty())
            initial[request.batches(i).board()] = RemoteBoard::initial_from(reads[size_t(i)], reply.replies(i));
    return initial;
}

void RemoteLink::add_board(const korvik::rpc::BoardInfo& info, RemoteBoard::Initial initial)
{
    RemoteBoard* board = nullptr;
    try {
        board = new RemoteBoard(library, this, info, uri.label + "/" + info.id(), std::move(initial));
    } catch (const std::exception& e) {
        diag() << "korvikd at " << uri.text << ": board " << info.id() << ": " << e.what() << std::endl;
        return;
    }
    boards[info.id()] = board;
    // hold it while the connect slots run, as a slot may open and close it
    board->reference();
    library->add_board(board);
    board->EvUSBBoard::unreference();
}

void RemoteLink::forget(RemoteBoard* board)
{
    auto it = boards.find(board->get_remote_id());
    if (it != boards.end() && it->second == board)
        boards.erase(it);
}

void RemoteLink::start_watch()
{
    stop_watch();
    inbox = std::make_shared<Inbox>();
    inbox->owner = this;
    inbox->last_ms = monotonic_ms();
    auto context = std::make_shared<grpc::ClientContext>();
    setup(*context, 0);
    inbox->context = context.get();
    auto reader = std::shared_ptr<grpc::ClientReader<Event>>(stub->Watch(context.get(), korvik::rpc::WatchRequest()));
    std::shared_ptr<Inbox> box = inbox;
    watch_thread = std::thread([box, context, reader] {
        Event event;
        auto deliver = [&box](bool end) {
            // one main-context call at a time drains everything that came
            if (!box->scheduled) {
                box->scheduled = true;
                auto* keep = new std::shared_ptr<Inbox>(box);
                g_main_context_invoke_full(
                    main_context()->gobj(), G_PRIORITY_DEFAULT,
                    [](gpointer data) -> gboolean {
                        auto& b = *static_cast<std::shared_ptr<Inbox>*>(data);
                        RemoteLink* owner;
                        {
                            std::lock_guard<std::mutex> lock(b->mutex);
                            owner = b->owner;
                        }
                        if (owner)
                            owner->take_events();
                        return G_SOURCE_REMOVE;
                    },
                    keep, [](gpointer data) { delete static_cast<std::shared_ptr<Inbox>*>(data); });
            }
            if (end)
                box->ended = true;
        };
        while (reader->Read(&event)) {
            box->last_ms = monotonic_ms();
            std::lock_guard<std::mutex> lock(box->mutex);
            if (event.has_heartbeat() && event.dropped() == 0)
                continue;
            if (box->events.size() >= INBOX_LIMIT) {
                box->events.pop_front();
                ++box->overflow;
            }
            box->events.push_back(std::move(event));
            deliver(false);
        }
        reader->Finish();
        std::lock_guard<std::mutex> lock(box->mutex);
        box->context = nullptr;
        deliver(true);
    });
}

void RemoteLink::stop_watch()
{
    if (inbox) {
        std::lock_guard<std::mutex> lock(inbox->mutex);
        inbox->owner = nullptr;
        if (inbox->context)
            inbox->context->TryCancel();
    }
    if (watch_thread.joinable())
        watch_thread.join();
    inbox.reset();
}

void RemoteLink::take_events()
{
    std::deque<Event> events;
    bool ended;
    uint64_t overflow;
    {
        std::lock_guard<std::mutex> lock(inbox->mutex);
        events.swap(inbox->events);
        inbox->scheduled = false;
        ended = inbox->ended;
        overflow = inbox->overflow;
        inbox->overflow = 0;
    }
    if (overflow)
        diag() << "korvikd at " << uri.text << ": " << overflow << " events dropped (program too slow)" << std::endl;
    // a slot may disconnect this very link
    std::shared_ptr<Inbox> alive = inbox;
    for (const Event& e : events) {
        handle(e);
        if (alive->owner != this)
            return;
    }
    if (ended && connected)
        lost("the watch ended");
}

void RemoteLink::handle(const Event& e)
{
    if (e.dropped() > dropped) {
        diag() << "korvikd at " << uri.text << ": " << (e.dropped() - dropped)
               << " status reports or packets dropped for this client" << std::endl;
        dropped = e.dropped();
    }
    auto it = boards.find(e.board());
    RemoteBoard* board = it == boards.end() ? nullptr : it->second;
    switch (e.what_case()) {
    case Event::kStatus:
        if (board)
            board->remote_status(status_of(e.status()));
        break;
    case Event::kPacket:
        if (board)
            board->remote_packet(e.packet());
        break;
    case Event::kAdded:
        if (!board && connected)
            add_board(e.added());
        break;
    case Event::kRemoved:
        if (board)
            board->lose("gone from " + uri.text);
        break;
    case Event::kRevoked:
        if (board)
            board->lose("lease " + e.revoked());
        break;
    default:
        break;
    }
}

void RemoteLink::lost(const std::string& why)
{
    if (!connected)
        return;
    connected = false;
    diag() << "korvikd at " << uri.text << ": link lost (" << why << ")" << std::endl;
    auto copy = boards;
    for (auto& entry : copy)
        entry.second->lose("link lost");
    retry_due = monotonic_ms() + RETRY_MS;
}

bool RemoteLink::on_tick()
{
    const int64_t now = monotonic_ms();
    if (connected) {
        if (inbox && now - inbox->last_ms > LOST_AFTER_MS) {
            stop_watch();
            lost("silent for " + std::to_string(now - inbox->last_ms) + " ms");
        }
        return true;
    }
    if (now < retry_due)
        return true;
    std::string error;
    if (!connect(error, 500)) {
        retry_due = monotonic_ms() + RETRY_MS;
        return true;
    }
    diag() << "korvikd at " << uri.text << ": link back" << std::endl;
    return true;
}

grpc::Status RemoteLink::apply(const korvik::rpc::OpBatch& batch, korvik::rpc::OpReply& reply)
{
    grpc::ClientContext context;
    setup(context, CALL_TIMEOUT_MS);
    return stub->Apply(&context, batch, &reply);
}

grpc::Status RemoteLink::acquire(const std::string& board, unsigned seconds, korvik::rpc::LeaseReply& reply)
{
    grpc::ClientContext context;
    setup(context, CALL_TIMEOUT_MS);
    korvik::rpc::LeaseRequest request;
    request.set_board(board);
    request.set_seconds(seconds);
    // the next lease_text lists again
    listed_ms = 0;
    return stub->Acquire(&context, request, &reply);
}

grpc::Status RemoteLink::renew(const std::string& board, const std::string& lease, korvik::rpc::LeaseReply& reply)
{
    grpc::ClientContext context;
    setup(context, CALL_TIMEOUT_MS);
    korvik::rpc::LeaseRequest request;
    request.set_board(board);
    request.set_lease_id(lease);
    return stub->Renew(&context, request, &reply);
}

void RemoteLink::release(const std::string& board, const std::string& lease)
{
    grpc::ClientContext context;
    setup(context, 1000);
    korvik::rpc::LeaseRequest request;
    request.set_board(board);
    request.set_lease_id(lease);
    korvik::rpc::Empty empty;
    listed_ms = 0;
    stub->Release(&context, request, &empty);
}

bool RemoteLink::refresh()
{
    korvik::rpc::ListReply reply;
    grpc::ClientContext context;
    setup(context, 2000);
    if (!stub->List(&context, korvik::rpc::ListRequest(), &reply).ok())
        return false;
    listed_ms = monotonic_ms();
    leases.clear();
    for (const auto& info : reply.boards())
        if (info.has_lease())
            leases[info.id()] = info.lease().user() + "@" + info.lease().host() + " (" + info.lease().program() +
                                ")" + "\t" + std::to_string(info.lease().end_ms());
    return true;
}

std::string RemoteLink::lease_text(const std::string& board_id)
{
    // one list serves every board of a `korvik list`
    if (connected && monotonic_ms() - listed_ms > 200)
        refresh();
    auto it = leases.find(board_id);
    if (it == leases.end())
        return "";
    const auto tab = it->second.find('\t');
    const time_t end = time_t(std::stoll(it->second.substr(tab + 1)) / 1000);
    char when[32];
    struct tm local;
    localtime_r(&end, &local);
    strftime(when, sizeof when, "%H:%M:%S", &local);
    return it->second.substr(0, tab) + " until " + when;
}

// ---- the process's links ----

std::map<std::string, std::unique_ptr<RemoteLink>>& RemoteServers::links()
{
    static auto* all = new std::map<std::string, std::unique_ptr<RemoteLink>>;
    return *all;
}

namespace {

void end_links_at_exit()
{
    // the watch threads must not outlive gRPC's own statics; the links stay,
    // so that no board signals anything while the program ends
    for (auto& link : RemoteServers::links())
        link.second->end_watch();
}

} // namespace

ServerUri RemoteServers::resolve(const std::string& text)
{
    const char* token = std::getenv("KORVIK_TOKEN");
    const char* ca = std::getenv("KORVIK_CA");
    ServerUri uri = parse_server_uri(text, token ? token : "", ca ? ca : "");
    const char* cert = std::getenv("KORVIK_CERT");
    const char* key = std::getenv("KORVIK_KEY");
    if (uri.kind == ServerUri::TLS && uri.cert_file.empty() && uri.key_file.empty() && cert && key) {
        uri.cert_file = cert;
        uri.key_file = key;
    }
    return uri;
}

std::string RemoteServers::check(const std::string& text, int timeout_ms)
{
    try {
        return RemoteLink::check(resolve(text), timeout_ms);
    } catch (const std::exception& e) {
        return e.what();
    }
}

RemoteLink* RemoteServers::connect(Library* library, const std::string& text)
{
    auto& all = links();
    auto it = all.find(text);
    if (it != all.end())
        return it->second.get();
    auto link = std::make_unique<RemoteLink>(library, resolve(text));
    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        std::atexit(end_links_at_exit);
    }
    RemoteLink* raw = link.get();
    all[text] = std::move(link);
    return raw;
}

bool RemoteServers::disconnect(const std::string& text)
{
    return links().erase(text) != 0;
}

void RemoteServers::connect_from_environment(Library* library)
{
    const char* list = std::getenv("KORVIK_SERVER");
    if (!list)
        return;
    std::string all = list;
    size_t start = 0;
    while (start <= all.size()) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos)
            comma = all.size();
        const std::string one = all.substr(start, comma - start);
        start = comma + 1;
        if (one.empty())
            continue;
        try {
            connect(library, one);
        } catch (const std::exception& e) {
            diag() << e.what() << std::endl;
        }
    }
}

} // namespace KORVIK
