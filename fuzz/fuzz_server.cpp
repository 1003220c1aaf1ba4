// Feeds arbitrary requests to korvikd's request handling: the bytes are an
// OpBatch as it arrives off the wire, run against the daemon's simulated
// boards with the lease checks in place. Half of the inputs carry the
// board's live lease, so writes get past the check and reach the board.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <glib.h>

#include <korvik/USBDevice.h>

#include "BoardHost.h"
#include "BoardService.h"
#include "board/MainLoop.h"

namespace {

struct Daemon {
    korvikd::BoardHost host;
    std::unique_ptr<korvikd::BoardService> service;
    korvikd::Client client{"fuzz", "fuzz", "localhost", "fuzz_server"};
    std::string lease;

    Daemon()
    {
        KORVIK::USBDevice::set_diagnostic_sink([](const std::string&) {});
        // this thread owns the context, so the service's hops to the board
        // thread run at once
        g_main_context_acquire(KORVIK::main_context()->gobj());
        KORVIK::USBDevice::set_virtual_air(true);
        host.start();
        host.add_simulated("RC1200");
        host.add_simulated("RC1300");
        service = std::make_unique<korvikd::BoardService>(host, korvikd::ServiceConfig());
    }

    std::string take_lease(const std::string& board)
    {
        korvikd::LeaseHolder h;
        service->leases().acquire(board, client, korvikd::now_ms(), 3600 * 1000, h);
        return h.lease_id;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Daemon* daemon = new Daemon;
    if (size < 1)
        return 0;
    korvik::rpc::OpBatch batch;
    if (!batch.ParseFromArray(data + 1, int(size - 1)))
        return 0;
    // the first byte picks a board (or keeps the input's own name) and the lease
    static const char* const boards[] = {"sim0", "sim1"};
    if (data[0] & 2)
        batch.set_board(boards[data[0] & 1]);
    if (data[0] & 4)
        batch.set_lease_id(daemon->take_lease(batch.board()));
    korvik::rpc::OpReply reply;
    daemon->service->apply(daemon->client, batch, reply);
    // what the virtual air scheduled runs too
    while (g_main_context_iteration(KORVIK::main_context()->gobj(), FALSE)) {
    }
    return 0;
}
