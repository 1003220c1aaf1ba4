#pragma once

// In-memory adapters for tests of the transport logic: each fake adapter
// hands frames to a BoardFirmware (or swallows them) and queues the answers.

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BoardFirmware.h"
#include "transport/Adapter.h"

namespace korvik_emu {

struct FakeLink {
    explicit FakeLink(std::unique_ptr<BoardFirmware> f = nullptr);
    ~FakeLink();

    void push(const Frame& frame);

    std::unique_ptr<BoardFirmware> firmware; ///< null: nobody answers
    std::deque<Frame> incoming;
    std::vector<Frame> sent;
    std::vector<unsigned> batches; ///< sizes of the send_all calls
    int event_fd = -1;
    bool fail_send = false;
    int sends_until_failure = -1; ///< sends that still succeed before every later one fails; -1: no limit
    bool fail_read = false;
    bool open = false;
    unsigned opens = 0;
    unsigned mtu = 1500;
};

class FakeAdapter : public KORVIK::Adapter {
public:
    explicit FakeAdapter(std::shared_ptr<FakeLink> link);
    ~FakeAdapter() override;

    int send(const uint8_t* frame, unsigned len) override;
    unsigned send_all(const uint8_t* const* frames, const unsigned* lens, unsigned count) override;
    int next(const uint8_t** frame, unsigned* len) override;
    bool wait(int timeout_ms) override;
    int get_fd() const override;
    std::string get_error() const override { return "fake adapter failed"; }
    unsigned get_mtu() const override { return link->mtu; }

private:
    std::shared_ptr<FakeLink> link;
    Frame current;
};

class FakeAdapterSystem : public KORVIK::AdapterSystem {
public:
    /// Adds an adapter; a null firmware makes a link that never answers.
    std::shared_ptr<FakeLink> add(const std::string& name, const std::string& description,
                                  std::unique_ptr<BoardFirmware> firmware);

    bool list(std::vector<KORVIK::AdapterInfo>& adapters, std::string& error) override;
    std::unique_ptr<KORVIK::Adapter> open(const std::string& name, std::string& error) override;

    bool fail_list = false;
    std::vector<KORVIK::AdapterInfo> infos;
    std::map<std::string, std::shared_ptr<FakeLink>> links;
};

} // namespace korvik_emu
