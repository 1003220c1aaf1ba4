#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvikd {

/// One line of the token file: "NAME TOKEN [EXPIRES]", EXPIRES in Unix
/// seconds (absent or "-": never). Blank lines and "#" comments are skipped.
struct Token {
    std::string name;
    std::string secret;
    int64_t expires = 0; ///< 0: never
};

/// Parses the token file's text; throws std::runtime_error naming the line
/// of a malformed entry.
std::vector<Token> parse_tokens(const std::string& text);
std::vector<Token> load_tokens(const std::string& path);

enum class TokenCheck { ok, missing, unknown, expired };

/// Checks an "authorization" header value ("Bearer TOKEN") against the list;
/// `name` gets the token's name when it is valid.
TokenCheck check_token(const std::vector<Token>& tokens, const std::string& header, int64_t now_sec,
                       std::string& name);

/// Whether HOST (of HOST:PORT; brackets allowed for IPv6) is a loopback address.
bool is_loopback_listen(const std::string& host_port);

} // namespace korvikd
