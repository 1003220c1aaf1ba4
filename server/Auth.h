#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct x509_store_st X509_STORE;

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

enum class CertCheck { ok, missing, unreadable, untrusted, expired, not_yet_valid, wrong_use };

/// Client certificates, the alternative to tokens: a certificate is valid
/// when it chains to one of the client CAs, is within its validity period
/// and is meant for clients (no extended key usage, or clientAuth).
class ClientCertificates {
public:
    /// `ca_pem`: one or more CA certificates; throws std::runtime_error.
    explicit ClientCertificates(const std::string& ca_pem);
    ~ClientCertificates();
    ClientCertificates(const ClientCertificates&) = delete;
    ClientCertificates& operator=(const ClientCertificates&) = delete;

    /// Checks the peer's leaf certificate (PEM, as the TLS layer hands it)
    /// at `now_sec`; `name` gets its subject's common name when it is valid.
    /// Safe to call from several threads.
    CertCheck check(const std::string& pem, int64_t now_sec, std::string& name) const;

private:
    X509_STORE* store;
};

/// Issues a client certificate for `name`, signed by the CA in `ca_crt` and
/// `ca_key` (PEM files), valid from `now + from_sec` to `now + until_sec`,
/// with a fresh P-256 key; writes `crt_path` and `key_path` (0600).
/// Throws std::runtime_error naming what failed.
void issue_client_certificate(const std::string& ca_crt, const std::string& ca_key, const std::string& name,
                              int64_t from_sec, int64_t until_sec, const std::string& crt_path,
                              const std::string& key_path);

const char* describe(CertCheck check);

/// Whether HOST (of HOST:PORT; brackets allowed for IPv6) is a loopback address.
bool is_loopback_listen(const std::string& host_port);

} // namespace korvikd
