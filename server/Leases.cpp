#include "Leases.h"

#include <fstream>
#include <random>

namespace korvikd {

namespace {

const size_t MAX_REVOKED = 1024;

bool live(const LeaseHolder& lease, int64_t now_ms)
{
    return now_ms < lease.end_ms;
}

} // namespace

std::string random_id()
{
    unsigned char bytes[16];
    std::ifstream urandom("/dev/urandom", std::ios::binary);
    if (!urandom.read(reinterpret_cast<char*>(bytes), sizeof bytes)) {
        // no /dev/urandom (a bare container): the library's generator
        std::random_device device;
        for (auto& b : bytes)
            b = static_cast<unsigned char>(device());
    }
    static const char hex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char b : bytes) {
        id += hex[b >> 4];
        id += hex[b & 15];
    }
    return id;
}

LeaseTable::Result LeaseTable::acquire(const std::string& board, const Client& client, int64_t now_ms,
                                       int64_t duration_ms, LeaseHolder& holder)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = leases.find(board);
    if (it != leases.end() && live(it->second, now_ms) && it->second.client.id != client.id) {
        holder = it->second;
        return Result::held;
    }
    if (it == leases.end() || !live(it->second, now_ms)) {
        LeaseHolder fresh;
        fresh.client = client;
        fresh.lease_id = random_id();
        it = leases.insert_or_assign(board, fresh).first;
    }
    it->second.end_ms = now_ms + duration_ms;
    holder = it->second;
    return Result::ok;
}

LeaseTable::Result LeaseTable::renew(const std::string& board, const std::string& lease_id, int64_t now_ms,
                                     int64_t duration_ms, LeaseHolder& holder)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (revoked.count(lease_id))
        return Result::revoked;
    auto it = leases.find(board);
    if (it == leases.end() || it->second.lease_id != lease_id || !live(it->second, now_ms)) {
        if (it != leases.end() && live(it->second, now_ms))
            holder = it->second;
        return it != leases.end() && live(it->second, now_ms) ? Result::held : Result::unknown;
    }
    it->second.end_ms = now_ms + duration_ms;
    holder = it->second;
    return Result::ok;
}

bool LeaseTable::release(const std::string& board, const std::string& lease_id)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = leases.find(board);
    if (it == leases.end() || it->second.lease_id != lease_id)
        return false;
    leases.erase(it);
    return true;
}

LeaseTable::Result LeaseTable::check(const std::string& board, const std::string& lease_id, int64_t now_ms) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (revoked.count(lease_id))
        return Result::revoked;
    auto it = leases.find(board);
    if (it == leases.end() || !live(it->second, now_ms))
        return Result::unknown;
    return it->second.lease_id == lease_id ? Result::ok : Result::held;
}

Client LeaseTable::revoke(const std::string& board)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = leases.find(board);
    if (it == leases.end())
        return Client{};
    Client client = it->second.client;
    if (revoked.insert(it->second.lease_id).second) {
        revoked_order.push_back(it->second.lease_id);
        if (revoked_order.size() > MAX_REVOKED) {
            revoked.erase(revoked_order.front());
            revoked_order.erase(revoked_order.begin());
        }
    }
    leases.erase(it);
    return client;
}

void LeaseTable::forget(const std::string& board)
{
    std::lock_guard<std::mutex> lock(mutex);
    leases.erase(board);
}

bool LeaseTable::holder(const std::string& board, int64_t now_ms, LeaseHolder& out) const
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = leases.find(board);
    if (it == leases.end() || !live(it->second, now_ms))
        return false;
    out = it->second;
    return true;
}

size_t LeaseTable::expire(int64_t now_ms)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = leases.begin(); it != leases.end();)
        it = live(it->second, now_ms) ? std::next(it) : leases.erase(it);
    return leases.size();
}

size_t LeaseTable::size() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return leases.size();
}

} // namespace korvikd
