#include "Auth.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>

namespace korvikd {

namespace {

// compares without stopping at the first difference, so that the time of
// a refusal says nothing about how much of a token was right
bool same_secret(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

std::vector<Token> parse_tokens(const std::string& text)
{
    std::vector<Token> tokens;
    std::istringstream lines(text);
    std::string line;
    unsigned number = 0;
    while (std::getline(lines, line)) {
        ++number;
        auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        Token t;
        std::string expires, extra;
        if (!(words >> t.name))
            continue;
        if (!(words >> t.secret) || (words >> expires && words >> extra) || t.secret.size() < 16)
            throw std::runtime_error("token file line " + std::to_string(number) +
                                     ": expected NAME TOKEN [EXPIRES], the token at least 16 characters");
        if (!expires.empty() && expires != "-") {
            size_t used = 0;
            try {
                t.expires = std::stoll(expires, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != expires.size() || t.expires <= 0)
                throw std::runtime_error("token file line " + std::to_string(number) +
                                         ": EXPIRES is a time in Unix seconds or -");
        }
        tokens.push_back(t);
    }
    return tokens;
}

std::vector<Token> load_tokens(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read token file " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return parse_tokens(text.str());
}

TokenCheck check_token(const std::vector<Token>& tokens, const std::string& header, int64_t now_sec,
                       std::string& name)
{
    const std::string prefix = "Bearer ";
    if (header.compare(0, prefix.size(), prefix) != 0 || header.size() == prefix.size())
        return TokenCheck::missing;
    const std::string secret = header.substr(prefix.size());
    for (const Token& t : tokens) {
        if (!same_secret(t.secret, secret))
            continue;
        if (t.expires && now_sec >= t.expires)
            return TokenCheck::expired;
        name = t.name;
        return TokenCheck::ok;
    }
    return TokenCheck::unknown;
}

bool is_loopback_listen(const std::string& host_port)
{
    std::string host = host_port;
    auto colon = host.rfind(':');
    if (colon == std::string::npos)
        return false;
    host.erase(colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host == "localhost")
        return true;
    in_addr v4;
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6;
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

} // namespace korvikd
