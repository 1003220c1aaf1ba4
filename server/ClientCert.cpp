// Client certificates: checking the ones peers present, and issuing them
// from the CA that korvikd init made.

#include "Auth.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>

#include <sys/stat.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace korvikd {

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX, X509_STORE_CTX_free>>;

std::string openssl_error()
{
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (!e)
        return "unknown error";
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

BioPtr memory_bio(const std::string& text)
{
    return BioPtr(BIO_new_mem_buf(text.data(), int(text.size())));
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string common_name(X509* cert)
{
    char name[256] = {0};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, name, sizeof name) <= 0)
        return {};
    return name;
}

void add_extension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext || !X509_add_ext(cert, ext, -1)) {
        X509_EXTENSION_free(ext);
        throw std::runtime_error("cannot add a certificate extension: " + openssl_error());
    }
    X509_EXTENSION_free(ext);
}

void write_pem(const std::string& path, mode_t mode, const std::function<int(FILE*)>& write)
{
    const mode_t old = umask(mode == 0600 ? 077 : 022);
    FILE* f = std::fopen(path.c_str(), "w");
    umask(old);
    if (!f)
        throw std::runtime_error("cannot write " + path);
    const bool ok = write(f) == 1;
    if (std::fclose(f) != 0 || !ok)
        throw std::runtime_error("cannot write " + path);
    chmod(path.c_str(), mode);
}

} // namespace

ClientCertificates::ClientCertificates(const std::string& ca_pem) : store(X509_STORE_new())
{
    BioPtr bio = memory_bio(ca_pem);
    unsigned count = 0;
    while (X509* ca = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        X509_STORE_add_cert(store, ca);
        X509_free(ca);
        ++count;
    }
    ERR_clear_error();
    if (count == 0) {
        X509_STORE_free(store);
        throw std::runtime_error("no CA certificate in the client CA file");
    }
}

ClientCertificates::~ClientCertificates()
{
    X509_STORE_free(store);
}

CertCheck ClientCertificates::check(const std::string& pem, int64_t now_sec, std::string& name) const
{
    if (pem.empty())
        return CertCheck::missing;
    BioPtr bio = memory_bio(pem);
    X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert) {
        ERR_clear_error();
        return CertCheck::unreadable;
    }
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || !X509_STORE_CTX_init(ctx.get(), store, cert.get(), nullptr))
        return CertCheck::unreadable;
    // the caller's clock, so that a test can ask about any moment
    X509_STORE_CTX_set_time(ctx.get(), 0, time_t(now_sec));
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_CLIENT);
    const int ok = X509_verify_cert(ctx.get());
    const int error = X509_STORE_CTX_get_error(ctx.get());
    ERR_clear_error();
    if (ok != 1) {
        switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return CertCheck::expired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return CertCheck::not_yet_valid;
        case X509_V_ERR_INVALID_PURPOSE:
            return CertCheck::wrong_use;
        default:
            return CertCheck::untrusted;
        }
    }
    name = common_name(cert.get());
    return CertCheck::ok;
}

const char* describe(CertCheck check)
{
    switch (check) {
    case CertCheck::ok:
        return "valid";
    case CertCheck::missing:
        return "no certificate";
    case CertCheck::unreadable:
        return "unreadable certificate";
    case CertCheck::untrusted:
        return "certificate not signed by a client CA";
    case CertCheck::expired:
        return "certificate expired";
    case CertCheck::not_yet_valid:
        return "certificate not yet valid";
    case CertCheck::wrong_use:
        return "certificate not meant for clients";
    }
    return "?";
}

void issue_client_certificate(const std::string& ca_crt, const std::string& ca_key, const std::string& name,
                              int64_t from_sec, int64_t until_sec, const std::string& crt_path,
                              const std::string& key_path)
{
    if (name.empty() || name.size() > 64)
        throw std::runtime_error("a client name has 1 to 64 characters");
    if (until_sec <= from_sec)
        throw std::runtime_error("a certificate must end after it begins");
    const std::string ca_text = read_file(ca_crt), ca_key_text = read_file(ca_key);
    BioPtr ca_bio = memory_bio(ca_text), key_bio = memory_bio(ca_key_text);
    X509Ptr ca(PEM_read_bio_X509(ca_bio.get(), nullptr, nullptr, nullptr));
    KeyPtr signer(PEM_read_bio_PrivateKey(key_bio.get(), nullptr, nullptr, nullptr));
    if (!ca || !signer)
        throw std::runtime_error("cannot read the CA from " + ca_crt + " and " + ca_key + ": " + openssl_error());
    if (X509_check_private_key(ca.get(), signer.get()) != 1)
        throw std::runtime_error(ca_key + " is not the key of " + ca_crt);

    KeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert)
        throw std::runtime_error("cannot make a key: " + openssl_error());
    X509_set_version(cert.get(), 2);
    // a random serial: two certificates of one CA never share one
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), long(from_sec));
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), long(until_sec));
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_NID(subject, NID_commonName, MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(ca.get()));
    X509_set_pubkey(cert.get(), key.get());
    add_extension(cert.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    add_extension(cert.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
    add_extension(cert.get(), ca.get(), NID_ext_key_usage, "clientAuth");
    add_extension(cert.get(), ca.get(), NID_authority_key_identifier, "keyid");
    if (X509_sign(cert.get(), signer.get(), EVP_sha256()) <= 0)
        throw std::runtime_error("cannot sign the certificate: " + openssl_error());

    write_pem(key_path, 0600, [&key](FILE* f) {
        return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    write_pem(crt_path, 0644, [&cert](FILE* f) { return PEM_write_X509(f, cert.get()); });
}

} // namespace korvikd
