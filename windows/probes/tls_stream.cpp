// TLS for the probes through Schannel. Certificates are checked by hand after the handshake with
// the system's chain engine and SSL policy (trusted root, validity, server name), which behaves
// the same wherever Schannel's own automatic check differs.
#include <windows.h>
#include <winsock2.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "common/text_encoding.h"
#include "probes/probe_stream.h"

namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_EXTENDED_ERROR;
constexpr size_t kMaxRecord = 16384 + 2048;

class Credentials {
 public:
  Credentials() {
    SCHANNEL_CRED schannel{};
    schannel.dwVersion = SCHANNEL_CRED_VERSION;
    schannel.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
    TimeStamp expiry{};
    ok_ = ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                      SECPKG_CRED_OUTBOUND, nullptr, &schannel, nullptr, nullptr,
                                      &handle_, &expiry) == SEC_E_OK;
  }
  ~Credentials() {
    if (ok_) ::FreeCredentialsHandle(&handle_);
  }
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;
  bool ok() const { return ok_; }
  CredHandle* get() { return &handle_; }

 private:
  CredHandle handle_{};
  bool ok_ = false;
};

struct ContextBufferFree {
  void operator()(void* buffer) const {
    if (buffer) ::FreeContextBuffer(buffer);
  }
};

struct CertContextFree {
  void operator()(PCCERT_CONTEXT context) const {
    if (context) ::CertFreeCertificateContext(context);
  }
};

struct ChainFree {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const {
    if (chain) ::CertFreeCertificateChain(chain);
  }
};

bool ServerCertificateTrusted(CtxtHandle* context, const std::wstring& host) {
  PCCERT_CONTEXT raw = nullptr;
  if (::QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw) != SEC_E_OK ||
      !raw) {
    return false;
  }
  std::unique_ptr<const CERT_CONTEXT, CertContextFree> certificate(raw);
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA chain_para{};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain_raw = nullptr;
  if (!::CertGetCertificateChain(nullptr, certificate.get(), nullptr, certificate->hCertStore,
                                 &chain_para, 0, nullptr, &chain_raw)) {
    return false;
  }
  std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree> chain(chain_raw);
  // The chain itself must be sound too. Windows' SSL policy below refuses these as well, but
  // not every implementation of it does (Wine's accepts a chain that ends in an unknown root).
  constexpr DWORD kChainErrors = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                 CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_SIGNATURE_VALID |
                                 CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_NOT_VALID_FOR_USAGE |
                                 CERT_TRUST_IS_CYCLIC;
  if ((chain->TrustStatus.dwErrorStatus & kChainErrors) != 0) return false;
  std::wstring name = host;
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = name.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof(policy);
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof(status);
  return ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status) &&
         status.dwError == 0;
}

class Tls : public ProbeStream {
 public:
  explicit Tls(ProbeSocket& socket) : socket_(socket) {}
  ~Tls() override {
    if (have_context_) ::DeleteSecurityContext(&context_);
  }

  bool Handshake(const std::string& host) {
    if (!credentials_.ok()) return false;
    std::wstring target = Utf8ToWide(host);
    std::vector<char> incoming;
    bool first = true;
    for (;;) {
      SecBuffer in_buffers[2] = {};
      in_buffers[0].BufferType = SECBUFFER_TOKEN;
      in_buffers[0].pvBuffer = incoming.data();
      in_buffers[0].cbBuffer = static_cast<unsigned long>(incoming.size());
      in_buffers[1].BufferType = SECBUFFER_EMPTY;
      SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in_buffers};
      SecBuffer out_buffer{0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out_buffer};
      unsigned long attributes = 0;
      const SECURITY_STATUS status = ::InitializeSecurityContextW(
          credentials_.get(), first ? nullptr : &context_, target.data(), kContextFlags, 0, 0,
          first ? nullptr : &in_desc, 0, first ? &context_ : nullptr, &out_desc, &attributes,
          nullptr);
      if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) have_context_ = true;
      first = false;
      std::unique_ptr<void, ContextBufferFree> token(out_buffer.pvBuffer);
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        if (!ReadMore(&incoming)) return false;
        continue;
      }
      if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return false;
      if (out_buffer.cbBuffer > 0 && out_buffer.pvBuffer &&
          !socket_.SendAll(out_buffer.pvBuffer, out_buffer.cbBuffer)) {
        return false;
      }
      // Bytes after the consumed record belong to the next step (or, at the end, to the data).
      std::vector<char> extra;
      if (in_buffers[1].BufferType == SECBUFFER_EXTRA && in_buffers[1].cbBuffer > 0) {
        extra.assign(incoming.end() - in_buffers[1].cbBuffer, incoming.end());
      }
      incoming = std::move(extra);
      if (status == SEC_E_OK) {
        pending_ = std::move(incoming);
        break;
      }
      if (incoming.empty() && !ReadMore(&incoming)) return false;
    }
    if (::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
      return false;
    }
    return ServerCertificateTrusted(&context_, target);
  }

  bool SendAll(const std::string& data) override {
    size_t offset = 0;
    while (offset < data.size()) {
      const size_t chunk = std::min<size_t>(data.size() - offset, sizes_.cbMaximumMessage);
      std::vector<char> record(sizes_.cbHeader + chunk + sizes_.cbTrailer);
      std::memcpy(record.data() + sizes_.cbHeader, data.data() + offset, chunk);
      SecBuffer buffers[4] = {};
      buffers[0] = {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
      buffers[1] = {static_cast<unsigned long>(chunk), SECBUFFER_DATA,
                    record.data() + sizes_.cbHeader};
      buffers[2] = {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER,
                    record.data() + sizes_.cbHeader + chunk};
      buffers[3] = {0, SECBUFFER_EMPTY, nullptr};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      if (::EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) return false;
      const size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
      if (!socket_.SendAll(record.data(), total)) return false;
      offset += chunk;
    }
    return true;
  }

  int ReceiveSome(char* data, size_t size) override {
    while (plain_.empty()) {
      if (!pending_.empty()) {
        SecBuffer buffers[4] = {};
        buffers[0] = {static_cast<unsigned long>(pending_.size()), SECBUFFER_DATA, pending_.data()};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = ::DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_I_CONTEXT_EXPIRED) return 0;
        if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE) {
          std::vector<char> extra;
          for (const SecBuffer& buffer : buffers) {
            if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
              const char* begin = static_cast<const char*>(buffer.pvBuffer);
              plain_.insert(plain_.end(), begin, begin + buffer.cbBuffer);
            } else if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0) {
              extra.assign(pending_.end() - buffer.cbBuffer, pending_.end());
            }
          }
          pending_ = std::move(extra);
          if (status == SEC_I_RENEGOTIATE) return -1;
          continue;
        }
        if (status != SEC_E_INCOMPLETE_MESSAGE) return -1;
      }
      if (pending_.size() > kMaxRecord * 2) return -1;
      if (!ReadMore(&pending_)) return pending_.empty() ? 0 : -1;
    }
    const size_t count = std::min(size, plain_.size());
    std::memcpy(data, plain_.data(), count);
    plain_.erase(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<int>(count);
  }

 private:
  bool ReadMore(std::vector<char>* buffer) {
    char chunk[4096];
    const int got = socket_.ReceiveSome(chunk, sizeof(chunk));
    if (got <= 0) return false;
    buffer->insert(buffer->end(), chunk, chunk + got);
    return true;
  }

  ProbeSocket& socket_;
  Credentials credentials_;
  CtxtHandle context_{};
  bool have_context_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::vector<char> pending_;  // received, not yet decrypted
  std::vector<char> plain_;    // decrypted, not yet handed out
};

}  // namespace

std::unique_ptr<ProbeStream> TlsStream(ProbeSocket& socket, const std::string& host) {
  auto tls = std::make_unique<Tls>(socket);
  if (!tls->Handshake(host)) return nullptr;
  return tls;
}
