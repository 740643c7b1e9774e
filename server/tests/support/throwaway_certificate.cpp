#include "support/throwaway_certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace {

bool writePem(const std::string& path, bool key, EVP_PKEY* pkey, X509* certificate) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file)
        return false;
    return key ? PEM_write_PrivateKey(file.get(), pkey, nullptr, nullptr, 0, nullptr, nullptr) == 1
               : PEM_write_X509(file.get(), certificate) == 1;
}

} // namespace

bool makeThrowawayCertificate(const std::string& folder, CertificateFiles& files) {
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, void (*)(X509*)> certificate(X509_new(), X509_free);
    if (!key || !certificate)
        return false;
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"),
                               -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate.get(), certificate.get(), nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1"},
                                     std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        if (!extension)
            return false;
        X509_add_ext(certificate.get(), extension, -1);
        X509_EXTENSION_free(extension);
    }
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        return false;
    files.certificate = folder + "/certificate.pem";
    files.privateKey = folder + "/private-key.pem";
    return writePem(files.certificate, false, nullptr, certificate.get()) &&
           writePem(files.privateKey, true, key.get(), nullptr);
}
