#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <sigc++/sigc++.h>

#include "remote/RemoteBoard.h"
#include "remote/ServerUri.h"

#include <grpcpp/grpcpp.h>

#include "korvikd.grpc.pb.h"

namespace KORVIK {

class Library;

/// One korvikd and its boards, seen from this process. The boards enter the
/// registry as RemoteBoard when the link is up and leave it (as unplugged
/// boards) when the server goes away, is silent for LOST_AFTER_MS, or the
/// board leaves there; the link then tries again every RETRY_MS and brings
/// the boards back. Everything but the watch thread runs on the thread that
/// drives the library's main context.
class RemoteLink : public sigc::trackable {
public:
    static constexpr int LOST_AFTER_MS = 1500;
    static constexpr int RETRY_MS = 1000;
    /// Calls that get no answer in this time fail (the board counts as gone).
    static constexpr int CALL_TIMEOUT_MS = 5000;

    /// Connects at once; throws std::runtime_error naming the server and the
    /// reason ("permission denied", unreachable, ...) when that fails.
    RemoteLink(Library* library, const ServerUri& uri);
    /// The boards leave the registry; the watch ends.
    ~RemoteLink();
    RemoteLink(const RemoteLink&) = delete;
    RemoteLink& operator=(const RemoteLink&) = delete;

    /// Whether the server answers a listing within `timeout_ms`: empty when
    /// it does, else the reason as the constructor would throw it. Touches
    /// no library state, so any thread may ask (a window asks before it
    /// connects, and stays responsive while a server does not answer).
    static std::string check(const ServerUri& uri, int timeout_ms);

    const ServerUri& get_uri() const { return uri; }
    /// Ends the watch without touching the boards (at exit: no signals then).
    void end_watch()
    {
        tick.disconnect();
        stop_watch();
    }
    bool is_connected() const { return connected; }
    /// Status reports and packets the server dropped for this client so far.
    uint64_t get_dropped_events() const { return dropped; }

    // board operations, for RemoteBoard
    grpc::Status apply(const korvik::rpc::OpBatch& batch, korvik::rpc::OpReply& reply);
    grpc::Status acquire(const std::string& board, unsigned seconds, korvik::rpc::LeaseReply& reply);
    grpc::Status renew(const std::string& board, const std::string& lease, korvik::rpc::LeaseReply& reply);
    void release(const std::string& board, const std::string& lease);
    void forget(RemoteBoard* board);
    /// "user@host (program) until HH:MM:SS" of the board's lease as last
    /// listed, or empty.
    /// Lists again first when the last list is older than a moment.
    std::string lease_text(const std::string& board_id);
    /// Lists again (lease holders and end times).
    bool refresh();

private:
    struct Inbox;

    void setup(grpc::ClientContext& context, int timeout_ms) const;
    /// List, then the watch; false with the reason when the server does not answer.
    bool connect(std::string& error, int timeout_ms);
    void start_watch();
    void stop_watch();
    void add_board(const korvik::rpc::BoardInfo& info, RemoteBoard::Initial initial = {});
    /// What opening each new board of the list reads, in one call; empty
    /// where the server could not say (it then reads as it opens).
    std::map<std::string, RemoteBoard::Initial> fetch_initial(const korvik::rpc::ListReply& list, int timeout_ms);
    void take_events();
    void handle(const korvik::rpc::Event& event);
    void lost(const std::string& why);
    bool on_tick();

    Library* library;
    ServerUri uri;
    std::string client_id;
    std::shared_ptr<grpc::Channel> channel;
    std::unique_ptr<korvik::rpc::Boards::Stub> stub;
    std::map<std::string, RemoteBoard*> boards;
    std::map<std::string, std::string> leases;
    int64_t listed_ms = 0;
    bool connected = false;
    int64_t retry_due = 0;
    uint64_t dropped = 0;
    sigc::connection tick;

    std::shared_ptr<Inbox> inbox;
    std::thread watch_thread;
};

/// The links of this process, by the text they were made from.
class RemoteServers {
public:
    /// Connects (or finds the link already made); throws std::runtime_error.
    static RemoteLink* connect(Library* library, const std::string& uri);
    /// The URI with what the environment adds (KORVIK_TOKEN, KORVIK_CA,
    /// KORVIK_CERT, KORVIK_KEY); throws std::invalid_argument for bad text.
    static ServerUri resolve(const std::string& uri);
    /// RemoteLink::check for the text a user gave; any thread.
    static std::string check(const std::string& uri, int timeout_ms);
    /// Ends the link; its boards leave. False when there was none.
    static bool disconnect(const std::string& uri);
    static std::map<std::string, std::unique_ptr<RemoteLink>>& links();
    /// Connects every server of KORVIK_SERVER (comma-separated); a failing
    /// one gets a diagnostic line, the others still connect.
    static void connect_from_environment(Library* library);
};

} // namespace KORVIK
