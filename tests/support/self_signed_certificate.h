// SPDX-License-Identifier: MIT
#pragma once

// Self-signed TLS certificates made at test run time (nothing is kept in the
// repository): any host name, any validity window, so tests can present a
// certificate from an untrusted issuer, for the wrong host or expired.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace lirevo::testing {

struct X509Deleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

struct SelfSignedCertificate {
  std::unique_ptr<X509, X509Deleter> certificate;
  std::unique_ptr<EVP_PKEY, KeyDeleter> key;
};

// A P-256 key and a certificate for `commonName`, valid from
// `validFromSeconds` to `validToSeconds` relative to now (negative: past).
inline SelfSignedCertificate makeSelfSignedCertificate(const std::string& commonName, long validFromSeconds,
                                                       long validToSeconds) {
  SelfSignedCertificate made;
  made.key.reset(EVP_EC_gen("P-256"));
  made.certificate.reset(X509_new());
  if (!made.key || !made.certificate) throw std::runtime_error("certificate objects");
  X509* certificate = made.certificate.get();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate), validFromSeconds);
  X509_gmtime_adj(X509_getm_notAfter(certificate), validToSeconds);
  X509_set_pubkey(certificate, made.key.get());
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(certificate, name);
  if (X509_sign(certificate, made.key.get(), EVP_sha256()) == 0)
    throw std::runtime_error("certificate signing");
  return made;
}

}  // namespace lirevo::testing
