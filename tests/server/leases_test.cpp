#include <gtest/gtest.h>

#include "Auth.h"
#include "Leases.h"

using namespace korvikd;

namespace {

Client client(const std::string& id)
{
    return Client{id, "user-" + id, "host", "prog"};
}

} // namespace

TEST(Leases, OneHolderUntilTheLeaseEnds)
{
    LeaseTable t;
    LeaseHolder a, b;
    ASSERT_EQ(t.acquire("sim0", client("a"), 1000, 500, a), LeaseTable::Result::ok);
    EXPECT_EQ(t.check("sim0", a.lease_id, 1499), LeaseTable::Result::ok);
    // someone else is refused and told who holds it
    EXPECT_EQ(t.acquire("sim0", client("b"), 1200, 500, b), LeaseTable::Result::held);
    EXPECT_EQ(b.client.user, "user-a");
    // the same client extends and keeps its id
    LeaseHolder again;
    ASSERT_EQ(t.acquire("sim0", client("a"), 1400, 500, again), LeaseTable::Result::ok);
    EXPECT_EQ(again.lease_id, a.lease_id);
    EXPECT_EQ(again.end_ms, 1900);
    // not renewed: the board is free at the end, the old id is worthless
    EXPECT_EQ(t.check("sim0", a.lease_id, 1900), LeaseTable::Result::unknown);
    ASSERT_EQ(t.acquire("sim0", client("b"), 1900, 500, b), LeaseTable::Result::ok);
    EXPECT_NE(b.lease_id, a.lease_id);
    EXPECT_EQ(t.check("sim0", a.lease_id, 1901), LeaseTable::Result::held);
    EXPECT_EQ(t.renew("sim0", a.lease_id, 1901, 500, again), LeaseTable::Result::held);
    EXPECT_EQ(t.renew("sim0", b.lease_id, 2300, 500, again), LeaseTable::Result::ok);
    EXPECT_EQ(again.end_ms, 2800);
}

TEST(Leases, ReleaseRevokeExpire)
{
    LeaseTable t;
    LeaseHolder a, b;
    t.acquire("sim0", client("a"), 0, 1000, a);
    t.acquire("sim1", client("b"), 0, 5000, b);
    EXPECT_FALSE(t.release("sim0", b.lease_id));
    EXPECT_TRUE(t.release("sim0", a.lease_id));
    EXPECT_FALSE(t.holder("sim0", 1, a));

    Client revoked = t.revoke("sim1");
    EXPECT_EQ(revoked.id, "b");
    EXPECT_EQ(t.check("sim1", b.lease_id, 1), LeaseTable::Result::revoked);
    EXPECT_EQ(t.renew("sim1", b.lease_id, 1, 1000, a), LeaseTable::Result::revoked);
    EXPECT_TRUE(t.revoke("sim1").id.empty());

    // many killed clients leave nothing behind once their time is up
    for (int i = 0; i < 1000; ++i)
        t.acquire("b" + std::to_string(i), client(std::to_string(i)), i, 2000, a);
    EXPECT_EQ(t.expire(2000), 999u);
    EXPECT_EQ(t.expire(3000), 0u);
}

TEST(Auth, TokenFileAndChecks)
{
    const auto tokens = parse_tokens("# comment\n\nci 0123456789abcdef0123 -\nold fedcba9876543210fedc 1000 # gone\n");
    ASSERT_EQ(tokens.size(), 2u);
    std::string name;
    struct Case {
        const char* header;
        TokenCheck expect;
    } cases[] = {
        {"Bearer 0123456789abcdef0123", TokenCheck::ok},
        {"Bearer 0123456789abcdef0124", TokenCheck::unknown},
        {"Bearer 0123456789abcdef012", TokenCheck::unknown},
        {"Bearer fedcba9876543210fedc", TokenCheck::expired},
        {"", TokenCheck::missing},
        {"Bearer ", TokenCheck::missing},
        {"0123456789abcdef0123", TokenCheck::missing},
    };
    for (const auto& c : cases)
        EXPECT_EQ(check_token(tokens, c.header, 2000, name), c.expect) << c.header;
    check_token(tokens, "Bearer 0123456789abcdef0123", 2000, name);
    EXPECT_EQ(name, "ci");

    for (const char* bad : {"x short -\n", "x 0123456789abcdef0123 soon\n", "x 0123456789abcdef0123 - more\n", "x\n"})
        EXPECT_THROW(parse_tokens(bad), std::runtime_error) << bad;
}

TEST(Auth, LoopbackAddresses)
{
    for (const char* yes : {"127.0.0.1:7000", "127.1.2.3:1", "localhost:7000", "[::1]:7000"})
        EXPECT_TRUE(is_loopback_listen(yes)) << yes;
    for (const char* no : {"0.0.0.0:7000", "192.168.1.2:7000", "[::]:7000", "example.org:7000", "127.0.0.1"})
        EXPECT_FALSE(is_loopback_listen(no)) << no;
}
