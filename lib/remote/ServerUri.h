#pragma once

#include <string>

namespace KORVIK {

/// Where a korvikd listens, from the text a user gives (KORVIK_SERVER,
/// korvik --server, Servers::connect):
///   unix:PATH, unix://PATH or /PATH   the daemon's Unix socket;
///   tls://HOST:PORT or HOST:PORT      TCP with TLS and a token;
///   tcp://HOST:PORT                   plain TCP (a daemon started --insecure);
/// optionally followed by ?token=TOKEN&ca=FILE&cert=FILE&key=FILE (else
/// KORVIK_TOKEN, KORVIK_CA, KORVIK_CERT and KORVIK_KEY from the environment;
/// without a CA file the system's roots). A client certificate (cert and
/// key, PEM) is the alternative to a token.
struct ServerUri {
    enum Kind { UNIX, TLS, TCP };
    Kind kind = UNIX;
    std::string text;   ///< as given
    std::string target; ///< gRPC target: "unix:/path" or "host:port"
    std::string label;  ///< prefix of the boards' interface names
    std::string token;
    std::string ca_file;
    std::string cert_file, key_file;
};

/// Parses `text`; throws std::runtime_error naming what is wrong.
/// `token` and `ca` are the environment's defaults.
ServerUri parse_server_uri(const std::string& text, const std::string& token = "", const std::string& ca = "");

/// The Unix socket a local korvikd listens on by default.
const char* default_server_socket();

} // namespace KORVIK
