// HTTPS through the SOCKS relay: TLS through Schannel, then the system's certificate checks,
// against a local server whose certificate comes from a test authority: trusted (in the
// CurrentUser Root store, as a company's own authority would be) the probe succeeds, so a TLS
// client that fails every handshake fails here; not trusted, the probe is refused.
#include <gtest/gtest.h>
#include <windows.h>
// The certificate store API needs the base types above.
#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "probes/data_path_probe.h"
#include "standin_core.h"

namespace {

const core_standin::UseAsCurrentFolder kUseStandin;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

HCERTSTORE OpenUserRootStore() {
  return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
}

// Puts the test authority in the CurrentUser Root store for its lifetime. The store is closed
// after each change: only then does Wine write it where the chain engine looks.
class TrustedTestAuthority {
 public:
  explicit TrustedTestAuthority(const std::string& der_path) {
    std::ifstream in(der_path, std::ios::binary);
    der_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    HCERTSTORE store = OpenUserRootStore();
    if (!store || der_.empty()) return;
    trusted_ = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der_.data(),
                                                  static_cast<DWORD>(der_.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    ::CertCloseStore(store, 0);
  }
  ~TrustedTestAuthority() {
    HCERTSTORE store = OpenUserRootStore();
    if (!store) return;
    PCCERT_CONTEXT ours = ::CertCreateCertificateContext(X509_ASN_ENCODING, der_.data(),
                                                         static_cast<DWORD>(der_.size()));
    if (ours) {
      PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, ours, nullptr);
      if (found) ::CertDeleteCertificateFromStore(found);  // frees `found`
      ::CertFreeCertificateContext(ours);
    }
    ::CertCloseStore(store, 0);
  }
  bool trusted() const { return trusted_; }

 private:
  std::vector<unsigned char> der_;
  bool trusted_ = false;
};

// The chain engine keeps what it has seen for the life of a process, so the wrapper script runs
// this program twice: once without the authority (ZELVORA_TEST_CA_DER unset), where the TLS
// handshake and the request succeed and only the certificate check can fail the probe; once
// with it trusted, where the same server passes.
TEST(HttpsProbe, OnlyAServerFromATrustedAuthorityPasses) {
  const std::string port = Env("ZELVORA_TEST_TLS_PORT");
  const std::string authority_file = Env("ZELVORA_TEST_CA_DER");
  if (port.empty()) GTEST_SKIP() << "run through https_probe_test.sh";
  std::optional<TrustedTestAuthority> authority;
  if (!authority_file.empty()) {
    authority.emplace(authority_file);
    ASSERT_TRUE(authority->trusted());
  }
  StandinCore core;
  ASSERT_TRUE(core.Start());
  const std::string url = "https://localhost:" + port + "/";
  const bool trusted = authority.has_value();
  EXPECT_EQ(ProbeThroughSocks(core.socks_port(), url) >= 1, trusted);
  EXPECT_EQ(ProbeViaSocks(core.socks_port(), url, "HEAD", 8000) >= 1, trusted);
}

}  // namespace
