#include <gtest/gtest.h>

#include <stdexcept>

#include "remote/ServerUri.h"

using KORVIK::ServerUri;
using KORVIK::parse_server_uri;

TEST(ServerUri, Forms)
{
    struct Case {
        const char* text;
        ServerUri::Kind kind;
        const char* target;
        const char* label;
        const char* token;
        const char* ca;
    } cases[] = {
        {"unix:/run/korvik/korvikd.sock", ServerUri::UNIX, "unix:/run/korvik/korvikd.sock", "local", "env", ""},
        {"unix:///tmp/k.sock", ServerUri::UNIX, "unix:/tmp/k.sock", "/tmp/k.sock", "env", ""},
        {"/tmp/k.sock", ServerUri::UNIX, "unix:/tmp/k.sock", "/tmp/k.sock", "env", ""},
        {"bench7:7361", ServerUri::TLS, "bench7:7361", "bench7:7361", "env", ""},
        {"tls://bench7:7361/?token=abc&ca=/etc/ca.crt", ServerUri::TLS, "bench7:7361", "bench7:7361", "abc",
         "/etc/ca.crt"},
        {"korvik://[::1]:7361", ServerUri::TLS, "[::1]:7361", "[::1]:7361", "env", ""},
        {"tcp://127.0.0.1:7000?token=", ServerUri::TCP, "127.0.0.1:7000", "127.0.0.1:7000", "", ""},
    };
    for (const auto& c : cases) {
        ServerUri u = parse_server_uri(c.text, "env", "");
        EXPECT_EQ(u.kind, c.kind) << c.text;
        EXPECT_EQ(u.target, c.target) << c.text;
        EXPECT_EQ(u.label, c.label) << c.text;
        EXPECT_EQ(u.token, c.token) << c.text;
        EXPECT_EQ(u.ca_file, c.ca) << c.text;
    }
    const ServerUri with_cert = parse_server_uri("tls://h:1?cert=/c/a.crt&key=/c/a.key", "", "");
    EXPECT_EQ(with_cert.cert_file, "/c/a.crt");
    EXPECT_EQ(with_cert.key_file, "/c/a.key");
    for (const char* bad : {"tcp://h:1?cert=/c/a.crt&key=/c/a.key", "", "unix:", "unix:relative", "http://x:1", "host", "host:", "host:port", ":7000",
                            "host:123456", "tls://a b:1", "tls://h:1?user=x", "tcp://user@h:1"})
        EXPECT_THROW(parse_server_uri(bad), std::runtime_error) << bad;
}
