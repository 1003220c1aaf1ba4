#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include "board/EvUSBBoard.h"
#include "korvikd.pb.h"

namespace KORVIK {

class RemoteLink;

/// A board of a korvikd, behind the same board interface as a local one: the
/// chip model lives here, and only the board operations travel. Writes wait
/// in a batch that goes out before the next read, at the end of a commit, when
/// the loop is idle, or when the last handle closes; the first write takes the
/// board's lease, which a timer renews while it is held and which is given
/// back with the last handle.
class RemoteBoard : public EvUSBBoard {
public:
    /// What opening a board reads, fetched ahead for many boards in one call.
    struct Initial {
        std::string nv;                           ///< the NV sector, or empty
        std::string chacc;                        ///< the channel-access block and addresses, or empty
        std::map<uint16_t, uint16_t> registers;   ///< operating address -> value
    };
    /// The reads that fill an Initial for a board of this chip (the NV
    /// sector and channel access first, then every operating register).
    static std::vector<korvik::rpc::Op> initial_reads(const std::string& chip);
    /// The Initial from the reply to initial_reads(chip).
    static Initial initial_from(const std::vector<korvik::rpc::Op>& reads, const korvik::rpc::OpReply& reply);

    /// Reads NV sector and chip registers (two calls), or takes what
    /// `initial` holds of them; throws std::runtime_error when the server
    /// refuses or the board is gone.
    RemoteBoard(BoardRegistry* registry, RemoteLink* link, const korvik::rpc::BoardInfo& info,
                const std::string& interface, Initial initial = Initial());
    ~RemoteBoard() override;

    const std::string& get_remote_id() const { return id; }
    RemoteLink* get_link() const { return link; }
    /// Marks the board dead without calling the server (link lost, board
    /// gone there, lease revoked) and lets it leave the registry.
    void lose(const std::string& why);
    /// The link goes away: no more calls through it.
    void detach() { link = nullptr; }
    /// A status report or packet from the server.
    void remote_status(const USBDeviceStatus& s) { handle_status(s); }
    void remote_packet(const korvik::rpc::Packet& p);
    bool holds_lease() const { return !lease_id.empty(); }

    void unreference() override;
    unsigned get_boardflags() override;
    int queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* destination_mac) override;
    bool is_dead() override;
    bool is_net_up() override;
    int get_report11() override;
    void set_report10(bool a, bool b) override;
    void evusb_write(uint16_t address, uint8_t value) override;
    uint16_t evusb_read16(uint16_t address) override;
    void set_flashctl(uint8_t v) override;
    int get_flashctl() override;
    void set_flashaddr(uint8_t a) override;
    int get_flashaddr() override;
    void set_flashdata(uint16_t w) override;
    int get_flashdata() override;
    void evusb_set_ethstate(uint8_t state) override;
    int evusb_get_ethstate() override;
    void set_chacc(const uint8_t block[9], const uint8_t addresses[12]) override;
    void get_chacc(uint8_t block[9], uint8_t addresses[12]) override;
    void write_nvsector(const uint8_t buffer[NV_SECTOR_SIZE]) override;
    void flush_writes() override;
    void start_reprogramming(unsigned mask) override;

protected:
    void read_nv_words(uint8_t buffer[NV_SECTOR_SIZE]) override;

private:
    /// Queues a write (taking the lease first if needed).
    void queue(const korvik::rpc::Op& op);
    /// Sends the waiting writes and then `reads`; the results of the reads.
    /// A refused write throws; a board that does not answer is lost.
    bool call(const std::vector<korvik::rpc::Op>& reads, korvik::rpc::OpReply& reply);
    int read_value(korvik::rpc::Op::Kind kind, uint16_t address = 0);
    void take_lease();
    void drop_lease();
    bool renew_lease();
    bool flush_when_idle();

    RemoteLink* link;
    std::string id;
    unsigned boardflags;
    bool dead = false;
    bool constructing = false;
    std::string lease_id;
    std::vector<korvik::rpc::Op> pending;
    std::map<uint16_t, uint16_t> prefetched;
    std::string prefetched_nv;
    std::string prefetched_chacc;
    sigc::connection renew_timer;
    sigc::connection idle_flush;
};

} // namespace KORVIK
