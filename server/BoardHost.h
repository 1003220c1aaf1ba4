#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>
#include <grpcpp/grpcpp.h>

#include "EventQueue.h"
#include "korvikd.pb.h"

namespace KORVIK {
class Library;
class EvUSBBoard;
class USBDevice;
} // namespace KORVIK

namespace korvikd {

/// One watching client: its queue and who it is.
struct Subscriber {
    explicit Subscriber(size_t capacity, const std::string& client_id) : queue(capacity), client_id(client_id) {}
    EventQueue<korvik::rpc::Event> queue;
    std::string client_id;
};

/// The boards of this host, as the library sees them. Everything here runs on
/// the thread that iterates the library's main context, except post() and the
/// subscriber list, which gRPC threads use.
class BoardHost : public sigc::trackable {
public:
    BoardHost();
    ~BoardHost();
    BoardHost(const BoardHost&) = delete;
    BoardHost& operator=(const BoardHost&) = delete;

    /// Starts watching the library (main thread): every board present and
    /// to come gets its status and packets forwarded to the subscribers.
    void start();
    /// A simulated board of `chip` (main thread); its serial is "SIM-<chip>-<n>".
    void add_simulated(const std::string& chip);

    /// Makes the first simulated board send `per_second` status reports (for
    /// benchmarks; value2 and value3 carry a 32-bit sequence number).
    void start_status_source(unsigned per_second);

    /// Runs `work` on the main thread and waits for it. The daemon stops its
    /// gRPC server before its main loop, so the wait always ends.
    void post(const std::function<void()>& work);

    /// The boards as last seen by the main thread (any thread): listing
    /// never waits behind another client's board operations.
    void list(korvik::rpc::ListReply& reply);
    bool has_board(const std::string& id);

    // main thread
    grpc::Status apply(const korvik::rpc::OpBatch& batch, korvik::rpc::OpReply& reply);

    void subscribe(const std::shared_ptr<Subscriber>& s);
    void unsubscribe(const std::shared_ptr<Subscriber>& s);
    /// Queues the event for every subscriber (any thread).
    void publish(const korvik::rpc::Event& event);
    /// Queues the event for the subscribers of one client (any thread).
    void publish_to(const std::string& client_id, const korvik::rpc::Event& event);
    void close_subscribers();

    /// Called on the main thread when a board leaves (lease bookkeeping).
    std::function<void(const std::string&)> on_board_removed;

private:
    void board_connected(const std::string& interface);
    void board_disconnected(const std::string& interface);
    void info_of(KORVIK::EvUSBBoard* board, korvik::rpc::BoardInfo& info);
    /// Takes the board's identity into the listing again (main thread).
    void refresh_listing(KORVIK::EvUSBBoard* board);

    KORVIK::Library* library = nullptr;
    std::map<std::string, std::vector<sigc::connection>> board_connections;
    std::vector<std::unique_ptr<KORVIK::USBDevice>> simulated;
    std::map<std::string, unsigned> sim_numbers;
    sigc::connection connect_connection, disconnect_connection;
    sigc::connection status_source;

    std::mutex listing_mutex;
    std::map<std::string, korvik::rpc::BoardInfo> listing;

    std::mutex subscribers_mutex;
    std::set<std::shared_ptr<Subscriber>> subscribers;
};

/// Whether a board operation changes the board (and so needs the lease).
bool op_writes(korvik::rpc::Op::Kind kind);

} // namespace korvikd
