#include "remote/ServerUri.h"

#include <stdexcept>

namespace KORVIK {

namespace {

void check_host_port(const std::string& hp, const std::string& text)
{
    auto colon = hp.rfind(':');
    const bool port_ok = colon != std::string::npos && colon + 1 < hp.size() &&
                         hp.find_first_not_of("0123456789", colon + 1) == std::string::npos &&
                         hp.size() - colon - 1 <= 5;
    if (colon == 0 || !port_ok)
        throw std::runtime_error("server '" + text + "': expected HOST:PORT");
    if (hp.find_first_of(" /?#@") != std::string::npos)
        throw std::runtime_error("server '" + text + "': bad character in HOST:PORT");
}

} // namespace

const char* default_server_socket()
{
    return "/run/korvik/korvikd.sock";
}

ServerUri parse_server_uri(const std::string& text, const std::string& token, const std::string& ca)
{
    ServerUri u;
    u.text = text;
    u.token = token;
    u.ca_file = ca;
    std::string rest = text;
    const auto q = rest.find('?');
    if (q != std::string::npos) {
        std::string query = rest.substr(q + 1);
        rest.erase(q);
        size_t start = 0;
        while (start <= query.size()) {
            size_t amp = query.find('&', start);
            if (amp == std::string::npos)
                amp = query.size();
            const std::string item = query.substr(start, amp - start);
            start = amp + 1;
            if (item.empty())
                continue;
            const auto eq = item.find('=');
            const std::string key = item.substr(0, eq);
            const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
            if (key == "token")
                u.token = value;
            else if (key == "ca")
                u.ca_file = value;
            else if (key == "cert")
                u.cert_file = value;
            else if (key == "key")
                u.key_file = value;
            else
                throw std::runtime_error("server '" + text + "': unknown option '" + key + "' (token, ca, cert, key)");
        }
    }
    if (rest.empty())
        throw std::runtime_error("empty server address");
    auto strip = [&rest](const char* prefix) {
        const std::string p = prefix;
        if (rest.compare(0, p.size(), p) != 0)
            return false;
        rest.erase(0, p.size());
        return true;
    };
    if (strip("unix://") || strip("unix:") || rest[0] == '/') {
        if (rest.empty() || rest[0] != '/')
            throw std::runtime_error("server '" + text + "': a Unix socket needs an absolute path");
        u.kind = ServerUri::UNIX;
        u.target = "unix:" + rest;
        u.label = rest == default_server_socket() ? "local" : rest;
        return u;
    }
    if (strip("tcp://"))
        u.kind = ServerUri::TCP;
    else if (strip("tls://") || strip("korvik://"))
        u.kind = ServerUri::TLS;
    else if (rest.find("://") != std::string::npos)
        throw std::runtime_error("server '" + text + "': unknown scheme (unix:, tls://, tcp://)");
    else
        u.kind = ServerUri::TLS;
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    check_host_port(rest, text);
    if (u.kind == ServerUri::TCP && (!u.cert_file.empty() || !u.key_file.empty()))
        throw std::runtime_error("server '" + text + "': a client certificate needs tls://");
    u.target = rest;
    u.label = rest;
    return u;
}

} // namespace KORVIK
