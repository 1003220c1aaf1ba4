#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace korvikd {

/// Who asks: a random id per client connection, and what it says it is.
struct Client {
    std::string id;
    std::string user;
    std::string host;
    std::string program;
};

struct LeaseHolder {
    Client client;
    std::string lease_id;
    int64_t end_ms = 0;
};

/// Board leases: one holder per board until the lease ends, unless renewed.
/// Time comes from the caller (milliseconds), so expiry is tested without
/// waiting. Thread-safe: gRPC threads check leases while others acquire.
class LeaseTable {
public:
    enum class Result { ok, held, unknown, revoked };

    /// Grants (or extends, for the same client) the lease on `board`;
    /// `held` with the current holder in `holder` when someone else has it.
    Result acquire(const std::string& board, const Client& client, int64_t now_ms, int64_t duration_ms,
                   LeaseHolder& holder);
    /// Extends the lease `lease_id` on `board`.
    Result renew(const std::string& board, const std::string& lease_id, int64_t now_ms, int64_t duration_ms,
                 LeaseHolder& holder);
    /// Ends the lease; true when it was the board's current one.
    bool release(const std::string& board, const std::string& lease_id);
    /// Whether `lease_id` is the live lease of `board` (writes need it).
    Result check(const std::string& board, const std::string& lease_id, int64_t now_ms) const;
    /// Ends the board's lease at once; returns the client that held it
    /// (empty id when nobody did). Its lease id then reads as revoked.
    Client revoke(const std::string& board);
    /// A board that went away takes its lease along.
    void forget(const std::string& board);
    /// The live lease of `board`, if any.
    bool holder(const std::string& board, int64_t now_ms, LeaseHolder& out) const;
    /// Drops ended leases; returns how many are left.
    size_t expire(int64_t now_ms);
    size_t size() const;

private:
    mutable std::mutex mutex;
    std::map<std::string, LeaseHolder> leases;
    // ids of revoked leases, so that the client learns why its write failed;
    // bounded, the oldest go first
    std::set<std::string> revoked;
    std::vector<std::string> revoked_order;
};

/// A fresh random identifier (128 bits as hex).
std::string random_id();

} // namespace korvikd
