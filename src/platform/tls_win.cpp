// TLS with Schannel through SSPI. Schannel only turns records into tokens
// and back; the bytes go through the caller's transport, so that every wait
// keeps its limits. The certificate is checked here, not by Schannel
// (manual validation), so that a bundle of the caller's can stand in for
// the system's trust store and revocation that cannot be checked offline
// does not fail the connection while a certificate known to be revoked does.
#include "platform/tls.h"

// CERT_CHAIN_PARA with its time limit for fetching revocation information
// (<windows.h> brings in <wincrypt.h>).
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "platform/windows_api.h"

#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>
#include <wininet.h>  // the SSL policy's SECURITY_FLAG_IGNORE_* checks

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"

namespace platform {

namespace {

// The largest TLS record on the wire (TLS 1.2 allows 2048 bytes of
// expansion), with room for Schannel's look at the next header. Schannel
// needs a whole record at once, so the input buffer must hold one.
constexpr std::size_t kRecordLimit = 5 + 16384 + 2048 + 256;
// A revocation list or OCSP answer that takes longer than this in all is
// taken as unknown, not waited for.
constexpr DWORD kRevocationTimeoutMs = 10000;
// Far more than any bundle of authorities; a bigger file is no bundle.
constexpr std::uint64_t kBundleLimit = 16u << 20;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The four bytes of a dotted IPv4 address; false for anything else.
bool ParseAddress(const std::string& host, BYTE (&address)[4]) {
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && (pos >= host.size() || host[pos++] != '.')) return false;
    unsigned value = 0;
    std::size_t digits = 0;
    for (; pos < host.size() && host[pos] >= '0' && host[pos] <= '9' && digits < 4; ++pos, ++digits)
      value = value * 10 + static_cast<unsigned>(host[pos] - '0');
    if (digits == 0 || digits > 3 || value > 255) return false;
    address[i] = static_cast<BYTE>(value);
  }
  return pos == host.size();
}

// Whether the certificate names address among its subject alternative
// names. An address is matched there only, never in the common name.
bool NamesAddress(PCCERT_CONTEXT cert, const BYTE (&address)[4]) {
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kEncoding, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
    return false;
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
            std::memcmp(entry.IPAddress.pbData, address, 4) == 0;
  }
  LocalFree(names);
  return found;
}

std::wstring Wide(const std::string& s) {
  const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string SecurityError(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_ALGORITHM_MISMATCH:
      return "no TLS version or cipher in common with the server (TLS 1.2 or later only)";
    case SEC_E_UNSUPPORTED_FUNCTION:
      return "the server's TLS version is not supported (TLS 1.2 or later only)";
    case SEC_E_ILLEGAL_MESSAGE:
      return "the server sent a TLS alert or a malformed message";
    case SEC_E_DECRYPT_FAILURE:
    case SEC_E_MESSAGE_ALTERED:
      return "a TLS record did not decrypt";
    case SEC_E_INTERNAL_ERROR:
      return "TLS internal error";
    default:
      return Format("TLS failure (SSPI status 0x%08lX)", static_cast<unsigned long>(status));
  }
}

std::string CertificateError(DWORD error) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
      return "issued by an authority that is not trusted";
    case static_cast<DWORD>(CERT_E_CHAINING):
      return "no chain to a trusted authority";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return "not issued for this host";
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return "expired or not yet valid";
    case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
      return "its validity does not nest in its issuer's";
    case static_cast<DWORD>(CRYPT_E_REVOKED):
      return "revoked";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return "not meant for a server";
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
    case static_cast<DWORD>(TRUST_E_BAD_DIGEST):
      return "its signature does not verify";
    case static_cast<DWORD>(CERT_E_REVOCATION_FAILURE):
    case static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE):
    case static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK):
      return "its revocation could not be checked";
    case static_cast<DWORD>(CERT_E_ROLE):
      return "an issuer in its chain is no authority";
    default:
      return Format("chain policy error 0x%08lX", static_cast<unsigned long>(error));
  }
}

// The gravest of a chain's error bits, in words.
std::string ChainError(DWORD status) {
  static const struct {
    DWORD bit;
    DWORD error;
  } kOrder[] = {
      {CERT_TRUST_IS_REVOKED, static_cast<DWORD>(CRYPT_E_REVOKED)},
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, static_cast<DWORD>(TRUST_E_CERT_SIGNATURE)},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, static_cast<DWORD>(CERT_E_UNTRUSTEDROOT)},
      {CERT_TRUST_IS_PARTIAL_CHAIN, static_cast<DWORD>(CERT_E_CHAINING)},
      {CERT_TRUST_IS_CYCLIC, static_cast<DWORD>(CERT_E_CHAINING)},
      {CERT_TRUST_IS_NOT_TIME_VALID, static_cast<DWORD>(CERT_E_EXPIRED)},
      {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, static_cast<DWORD>(CERT_E_ROLE)},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, static_cast<DWORD>(CERT_E_WRONG_USAGE)},
  };
  for (const auto& o : kOrder) {
    if (status & o.bit) return CertificateError(o.error);
  }
  return Format("chain status 0x%08lX", static_cast<unsigned long>(status));
}

// The certificates of a PEM file in a store of memory; null when the file
// cannot be read or holds none.
HCERTSTORE LoadBundle(const std::string& file) {
  const FileHandle h = OpenFileForReading(file);
  if (h == kNoFile) return nullptr;
  std::uint64_t size = 0;
  std::string text;
  if (GetFileSize(h, size) && size <= kBundleLimit) {
    text.resize(static_cast<std::size_t>(size));
    const long n = ReadFileAt(h, 0, text.data(), text.size());
    text.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  }
  CloseFile(h);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  if (store == nullptr) return nullptr;
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  bool found = false;
  for (std::size_t begin = text.find(kBegin); begin != std::string::npos; begin = text.find(kBegin, begin + 1)) {
    const std::size_t end = text.find(kEnd, begin);
    if (end == std::string::npos) break;
    const char* block = text.data() + begin;
    const auto length = static_cast<DWORD>(end + sizeof kEnd - 1 - begin);
    DWORD bytes = 0;
    if (!CryptStringToBinaryA(block, length, CRYPT_STRING_BASE64HEADER, nullptr, &bytes, nullptr, nullptr)) continue;
    std::vector<BYTE> der(bytes);
    if (!CryptStringToBinaryA(block, length, CRYPT_STRING_BASE64HEADER, der.data(), &bytes, nullptr, nullptr)) continue;
    PCCERT_CONTEXT cert = CertCreateCertificateContext(kEncoding, der.data(), bytes);
    if (cert == nullptr) continue;
    found = CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_USE_EXISTING, nullptr) || found;
    CertFreeCertificateContext(cert);
  }
  if (!found) {
    CertCloseStore(store, 0);
    return nullptr;
  }
  return store;
}

bool InStore(HCERTSTORE store, PCCERT_CONTEXT cert) {
  PCCERT_CONTEXT same = CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, cert, nullptr);
  if (same == nullptr) return false;
  // CERT_FIND_EXISTING matches issuer and serial: the bytes must be the same too.
  const bool equal = same->cbCertEncoded == cert->cbCertEncoded &&
                     std::memcmp(same->pbCertEncoded, cert->pbCertEncoded, cert->cbCertEncoded) == 0;
  CertFreeCertificateContext(same);
  return equal;
}

// What a check of the server's chain holds, released however it ends.
struct ChainCheck {
  PCCERT_CONTEXT server = nullptr;
  HCERTSTORE bundle = nullptr;
  HCERTSTORE both = nullptr;
  HCERTCHAINENGINE engine = nullptr;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  ChainCheck() = default;
  ChainCheck(const ChainCheck&) = delete;
  ChainCheck& operator=(const ChainCheck&) = delete;
  ~ChainCheck() {
    if (chain != nullptr) CertFreeCertificateChain(chain);
    if (engine != nullptr) CertFreeCertificateChainEngine(engine);
    if (both != nullptr) CertCloseStore(both, 0);
    if (bundle != nullptr) CertCloseStore(bundle, 0);
    if (server != nullptr) CertFreeCertificateContext(server);
  }
};

class SchannelConnection final : public TlsConnection {
 public:
  explicit SchannelConnection(TlsTransport& transport) : m_transport(transport) {
    SecInvalidateHandle(&m_credentials);
    SecInvalidateHandle(&m_context);
  }
  ~SchannelConnection() override {
    // No close notice: the stream may be broken, and a send would wait.
    if (SecIsValidHandle(&m_context)) DeleteSecurityContext(&m_context);
    if (SecIsValidHandle(&m_credentials)) FreeCredentialsHandle(&m_credentials);
  }
  SchannelConnection(const SchannelConnection&) = delete;
  SchannelConnection& operator=(const SchannelConnection&) = delete;

  TlsOutcome Handshake(const std::string& host, const std::string& caFile, std::string& why) {
    m_host = host;
    if (!AcquireCredentials(why)) return TlsOutcome::kRefused;
    m_input.resize(kRecordLimit);
    TlsOutcome outcome = Negotiate(true, why);
    if (outcome != TlsOutcome::kOk) return outcome;
    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesA(&m_context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) {
      why = "cannot learn the negotiated TLS version";
      return TlsOutcome::kRefused;
    }
    if ((info.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0) {
      why = Format("the server negotiated a TLS version older than 1.2 (0x%lX)", static_cast<unsigned long>(info.dwProtocol));
      return TlsOutcome::kRefused;
    }
    if (!VerifyServer(caFile, why)) return TlsOutcome::kRefused;
    if (QueryContextAttributesA(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK ||
        m_sizes.cbMaximumMessage == 0) {
      why = "cannot learn the TLS record sizes";
      return TlsOutcome::kRefused;
    }
    const std::size_t record = std::size_t{m_sizes.cbHeader} + m_sizes.cbMaximumMessage + m_sizes.cbTrailer;
    if (record + 256 > m_input.size()) m_input.resize(record + 256);
    m_output.resize(record);
    return TlsOutcome::kOk;
  }

  bool Send(const char* data, std::int32_t n) override {
    if (m_failed) return false;
    while (n > 0) {
      const auto piece = static_cast<std::int32_t>(std::min<unsigned long>(static_cast<unsigned long>(n), m_sizes.cbMaximumMessage));
      char* record = m_output.data();
      std::memcpy(record + m_sizes.cbHeader, data, static_cast<std::size_t>(piece));
      SecBuffer buffers[4] = {
          {m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, record},
          {static_cast<unsigned long>(piece), SECBUFFER_DATA, record + m_sizes.cbHeader},
          {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record + m_sizes.cbHeader + piece},
          {0, SECBUFFER_EMPTY, nullptr},
      };
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      if (EncryptMessage(&m_context, 0, &desc, 0) != SEC_E_OK) return Broken();
      // Schannel may shorten the header or the trailer in place: the record
      // is whatever the three buffers hold, one send when they still touch.
      const bool whole = buffers[0].cbBuffer == m_sizes.cbHeader && buffers[1].cbBuffer == static_cast<unsigned long>(piece);
      const int parts = whole ? 1 : 3;
      for (int i = 0; i < parts; ++i) {
        const unsigned long length = whole ? buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer : buffers[i].cbBuffer;
        if (length > 0 && !m_transport.Send(static_cast<char*>(buffers[i].pvBuffer), static_cast<std::int32_t>(length)))
          return Broken();
      }
      data += piece;
      n -= piece;
    }
    return true;
  }

  std::int32_t Receive(char* buffer, std::int32_t capacity) override {
    if (capacity <= 0) return m_failed ? -1 : 0;
    if (m_pendingPos < m_pending.size()) return TakePending(buffer, capacity);
    if (m_closed) return 0;
    if (m_failed) return -1;
    for (;;) {
      if (m_inputUsed > 0) {
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(m_inputUsed), SECBUFFER_DATA, m_input.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&m_context, &desc, 0, nullptr);
        if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
          std::int32_t delivered = 0;
          const SecBuffer* extra = nullptr;
          for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0 && delivered == 0) {
              // Decrypted in place: taken out before the extra bytes move over it.
              delivered = static_cast<std::int32_t>(std::min<unsigned long>(b.cbBuffer, static_cast<unsigned long>(capacity)));
              std::memcpy(buffer, b.pvBuffer, static_cast<std::size_t>(delivered));
              m_pending.assign(static_cast<const char*>(b.pvBuffer) + delivered,
                               static_cast<const char*>(b.pvBuffer) + b.cbBuffer);
              m_pendingPos = 0;
            } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
              extra = &b;
            }
          }
          KeepExtra(extra);
          if (status == SEC_I_CONTEXT_EXPIRED) {
            m_closed = true;
            return delivered;
          }
          if (status == SEC_I_RENEGOTIATE) {
            // Post-handshake messages (TLS 1.3 tickets and key updates) go
            // back through the handshake with the bytes that follow them.
            std::string ignored;
            if (Negotiate(false, ignored) != TlsOutcome::kOk) {
              m_failed = true;
              return delivered > 0 ? delivered : -1;
            }
          }
          if (delivered > 0) return delivered;
          continue;  // a record without data
        }
        if (status != SEC_E_INCOMPLETE_MESSAGE) return Fail();
      }
      if (!ReadMore()) return Fail();
    }
  }

 private:
  bool AcquireCredentials(std::string& why) {
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    // Systems that know no TLS 1.3 may refuse its bit: then 1.2 alone.
    for (DWORD protocols : {DWORD{SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT}, DWORD{SP_PROT_TLS1_2_CLIENT}}) {
      credentials.grbitEnabledProtocols = protocols;
      TimeStamp expiry;
      const SECURITY_STATUS status =
          AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                    &credentials, nullptr, nullptr, &m_credentials, &expiry);
      if (status == SEC_E_OK) return true;
      why = "cannot set up TLS: " + SecurityError(status);
    }
    return false;
  }

  // Runs InitializeSecurityContext until the context is complete: the whole
  // handshake when initial, else the post-handshake messages in m_input.
  TlsOutcome Negotiate(bool initial, std::string& why) {
    constexpr unsigned long kWanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                      ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION |
                                      ISC_REQ_EXTENDED_ERROR;
    // The target name is the SNI and the key of Schannel's session cache.
    // An address is given too: Windows leaves IP literals out of SNI itself.
    char* target = const_cast<char*>(m_host.c_str());
    bool first = initial;
    bool needInput = false;
    for (;;) {
      if (needInput && m_inputUsed >= m_input.size()) {
        why = "TLS handshake failed: a record longer than TLS allows";
        return TlsOutcome::kRefused;
      }
      if (needInput && !ReadMore()) {
        why = "connection lost during the TLS handshake";
        return TlsOutcome::kCut;
      }
      // Schannel would wait for the rest of a "record" as long as the first
      // bytes say, when they are no record at all (a plain HTTP answer).
      if (m_inputUsed > 0 && !StartsRecord()) {
        why = "TLS handshake failed: the server does not speak TLS";
        return TlsOutcome::kRefused;
      }
      SecBuffer in[2] = {
          {static_cast<unsigned long>(m_inputUsed), SECBUFFER_TOKEN, m_input.data()},
          {0, SECBUFFER_EMPTY, nullptr},
      };
      SecBuffer out[2] = {
          {0, SECBUFFER_TOKEN, nullptr},
          {0, SECBUFFER_ALERT, nullptr},
      };
      SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
      SecBufferDesc outDesc{SECBUFFER_VERSION, 2, out};
      unsigned long attributes = 0;
      TimeStamp expiry;
      const SECURITY_STATUS status =
          InitializeSecurityContextA(&m_credentials, first ? nullptr : &m_context, target, kWanted, 0, 0,
                                     first ? nullptr : &inDesc, 0, first ? &m_context : nullptr, &outDesc,
                                     &attributes, &expiry);
      first = false;
      bool sent = true;
      if (out[0].pvBuffer != nullptr) {
        if (out[0].cbBuffer > 0) sent = m_transport.Send(static_cast<char*>(out[0].pvBuffer), static_cast<std::int32_t>(out[0].cbBuffer));
        FreeContextBuffer(out[0].pvBuffer);
      }
      if (out[1].pvBuffer != nullptr) FreeContextBuffer(out[1].pvBuffer);
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        needInput = true;
        continue;
      }
      if (FAILED(status)) {
        why = "TLS handshake failed: " + SecurityError(status);
        return TlsOutcome::kRefused;
      }
      if (!sent) {
        why = "connection lost during the TLS handshake";
        return TlsOutcome::kCut;
      }
      KeepExtra(in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 ? &in[1] : nullptr);
      if (status == SEC_E_OK) return TlsOutcome::kOk;
      if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
        why = "the server asks for a client certificate";
        return TlsOutcome::kRefused;
      }
      if (status != SEC_I_CONTINUE_NEEDED) {
        why = "TLS handshake failed: " + SecurityError(status);
        return TlsOutcome::kRefused;
      }
      needInput = m_inputUsed == 0;
    }
  }

  // The server's chain to a trusted root (the bundle's, or the system's),
  // and its certificate for m_host.
  bool VerifyServer(const std::string& caFile, std::string& why) {
    ChainCheck check;
    if (QueryContextAttributesA(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &check.server) != SEC_E_OK ||
        check.server == nullptr) {
      why = "certificate refused: the server sent none";
      return false;
    }
    HCERTSTORE extra = check.server->hCertStore;
    bool exclusive = false;
    if (!caFile.empty()) {
      check.bundle = LoadBundle(caFile);
      if (check.bundle == nullptr) {
        why = "cannot read the trusted certificates in " + caFile;
        return false;
      }
      CERT_CHAIN_ENGINE_CONFIG config{};
      config.cbSize = sizeof config;
      config.hExclusiveRoot = check.bundle;
      config.dwUrlRetrievalTimeout = kRevocationTimeoutMs;
      exclusive = CertCreateCertificateChainEngine(&config, &check.engine) != FALSE;
      if (!exclusive) {
        // A system without exclusive roots: the bundle is offered as
        // intermediates, and the root of the chain must be one of its own.
        check.engine = nullptr;
        check.both = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
        if (check.both == nullptr || !CertAddStoreToCollection(check.both, check.server->hCertStore, 0, 0) ||
            !CertAddStoreToCollection(check.both, check.bundle, 0, 0)) {
          why = "cannot set up the certificate check";
          return false;
        }
        extra = check.both;
      }
    }
    static char kServerAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    static char* kUsages[] = {kServerAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = kUsages;
    para.dwUrlRetrievalTimeout = kRevocationTimeoutMs;
    constexpr DWORD kRevocation = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
    if (!CertGetCertificateChain(check.engine, check.server, nullptr, extra, &para, kRevocation, nullptr, &check.chain) ||
        check.chain == nullptr || check.chain->cChain == 0 || check.chain->rgpChain[0]->cElement == 0) {
      why = "certificate refused: no chain could be built";
      return false;
    }
    // The chain's own verdict first: Wine's SSL policy lets a chain that
    // reaches no root at all pass. Revocation that could not be checked
    // (no list, no answer, offline) passes; known to be revoked does not.
    const DWORD trust = check.chain->TrustStatus.dwErrorStatus;
    DWORD tolerated = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    if (check.bundle != nullptr && !exclusive) tolerated |= CERT_TRUST_IS_UNTRUSTED_ROOT;  // the bundle's, below
    if ((trust & ~tolerated) != 0) {
      why = "certificate refused: " + ChainError(trust & ~tolerated);
      return false;
    }
    const CERT_SIMPLE_CHAIN* simple = check.chain->rgpChain[0];
    // Also with exclusive roots: nothing but the bundle may vouch for the server.
    if (check.bundle != nullptr && !InStore(check.bundle, simple->rgpElement[simple->cElement - 1]->pCertContext)) {
      why = "certificate refused: " + CertificateError(static_cast<DWORD>(CERT_E_UNTRUSTEDROOT));
      return false;
    }
    std::wstring name = Wide(m_host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    // Not every version of the SSL policy matches addresses (Wine's does
    // not): an address is checked here, as OpenSSL checks it, the rest of
    // the chain by the policy.
    BYTE address[4];
    if (m_host.find_first_not_of("0123456789.") == std::string::npos) {
      if (!ParseAddress(m_host, address) || !NamesAddress(check.server, address)) {
        why = "certificate refused: " + CertificateError(static_cast<DWORD>(CERT_E_CN_NO_MATCH));
        return false;
      }
      ssl.fdwChecks = SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    }
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    // Wine's SSL policy takes no notice of the flags above, only of this.
    if (trust & (CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION))
      ssl.fdwChecks |= SECURITY_FLAG_IGNORE_REVOCATION;
    if (check.bundle != nullptr && !exclusive) policy.dwFlags |= CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS verdict{};
    verdict.cbSize = sizeof verdict;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, check.chain, &policy, &verdict)) {
      why = "certificate refused: the chain could not be checked";
      return false;
    }
    if (verdict.dwError != 0) {
      why = "certificate refused: " + CertificateError(verdict.dwError);
      return false;
    }
    return true;
  }

  // More of the stream after what m_input holds; false when the transport
  // failed or ended, or a record would not fit.
  bool ReadMore() {
    if (m_inputUsed >= m_input.size()) return false;
    const std::int32_t n =
        m_transport.Receive(m_input.data() + m_inputUsed, static_cast<std::int32_t>(m_input.size() - m_inputUsed));
    if (n <= 0) return false;
    m_inputUsed += static_cast<std::size_t>(n);
    return true;
  }

  // Whether m_input starts as a TLS record does: a known content type
  // (change_cipher_spec, alert, handshake, application_data), version 3.x.
  bool StartsRecord() const {
    const auto type = static_cast<unsigned char>(m_input[0]);
    return type >= 20 && type <= 23 && (m_inputUsed < 2 || m_input[1] == 3);
  }

  // The bytes of the next record that Schannel left unread, moved to the front.
  void KeepExtra(const SecBuffer* extra) {
    if (extra == nullptr) {
      m_inputUsed = 0;
      return;
    }
    const std::size_t n = extra->cbBuffer;
    std::memmove(m_input.data(), m_input.data() + (m_inputUsed - n), n);
    m_inputUsed = n;
  }

  std::int32_t TakePending(char* buffer, std::int32_t capacity) {
    const std::size_t n = std::min(m_pending.size() - m_pendingPos, static_cast<std::size_t>(capacity));
    std::memcpy(buffer, m_pending.data() + m_pendingPos, n);
    m_pendingPos += n;
    return static_cast<std::int32_t>(n);
  }

  // A stream that failed stays failed: -1 as Receive says it, false as Send does.
  std::int32_t Fail() {
    m_failed = true;
    return -1;
  }
  bool Broken() {
    m_failed = true;
    return false;
  }

  TlsTransport& m_transport;
  std::string m_host;
  CredHandle m_credentials;
  CtxtHandle m_context;
  SecPkgContext_StreamSizes m_sizes{};
  std::vector<char> m_input;   // encrypted bytes not yet decrypted
  std::size_t m_inputUsed = 0;
  std::vector<char> m_output;  // one record being encrypted
  std::vector<char> m_pending;  // decrypted bytes the caller had no room for
  std::size_t m_pendingPos = 0;
  bool m_closed = false;
  bool m_failed = false;
};

}  // namespace

std::unique_ptr<TlsConnection> TlsConnect(TlsTransport& transport, const std::string& host,
                                          const std::string& caFile, TlsOutcome& outcome, std::string& why) {
  auto connection = std::make_unique<SchannelConnection>(transport);
  why.clear();
  outcome = connection->Handshake(host, caFile, why);
  if (outcome != TlsOutcome::kOk) return nullptr;
  return connection;
}

bool TlsIsCertificateBundle(const std::string& file) {
  HCERTSTORE store = LoadBundle(file);
  if (store == nullptr) return false;
  CertCloseStore(store, 0);
  return true;
}

}  // namespace platform
