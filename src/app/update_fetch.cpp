#include "app/update_fetch.h"

#include <chrono>

#include "app/run_log.h"
#include "fs/paths.h"
#include "http/response.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "verify/manifest.h"

namespace {

void Step(const std::function<void(const std::string&)>& step, const std::string& line) {
  if (step) step(line);
}

// "what: url" as it can be printed, and logged.
std::string Shown(const char* what, const std::string& url) {
  return std::string(what) + ": " + platform::EscapeControls(LoggedAddress(url));
}

const char* ResultText(std::int32_t result) {
  switch (result) {
    case HD_OK: return "done";
    case HD_NOTFOUND: return "not found";
    case HD_TOOLARGE: return "too large";
    case HD_STOPPED: return "stopped";
    default: return "failed";
  }
}

// The download's HD_* result; why tells what went wrong unless HD_OK.
std::int32_t Download(CHttpDownload& session, const char* what, const std::string& url, const std::string& path,
                      std::uint64_t limit, std::string& why, const std::function<void(const std::string&)>& step) {
  using Clock = std::chrono::steady_clock;
  session.m_nMaxSize = limit;
  session.m_strResponseHeader.clear();  // a failed connection leaves the last download's
  const std::int32_t brokenBefore = session.m_nBrokenCount;
  const Clock::time_point start = Clock::now();
  const std::int32_t result = session.DownloadFile(url.c_str(), path.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  session.m_nMaxSize = UINT64_MAX;
  const std::int32_t status = StatusCodeOf(session.m_strResponseHeader);
  Step(step, platform::Format("  %s: %s, %u bytes in %.3f s, %u retries, %d broken transfers", ResultText(result),
                              status > 0 ? platform::Format("HTTP %d", status).c_str() : "no answer",
                              session.m_nDownloaded, seconds, session.m_nRetryCount,
                              session.m_nBrokenCount - brokenBefore));
  if (result == HD_TOOLARGE) {
    why = platform::Format("%s: the server announces %u bytes, more than the %llu allowed", Shown(what, url).c_str(),
                           session.m_nContentLength, static_cast<unsigned long long>(limit));
  } else if (result != HD_OK) {
    why = platform::Format("%s: cannot be downloaded (%s)", Shown(what, url).c_str(),
                           result == HD_NOTFOUND ? "not found" : "failed");
  }
  return result;
}

// Too large is a refusal: the length is the server's answer, not the network's.
int Fetched(std::int32_t result) {
  if (result == HD_OK) return UF_READY;
  return result == HD_TOOLARGE ? UF_REFUSED : UF_FAILED;
}

// Downloads one package and holds it to its signed entries (when signed).
int FetchPackage(CHttpDownload& session, const char* what, const std::string& url, const std::string& path,
                 const verify::SignedPackage* expected, std::string& why,
                 const std::function<void(const std::string&)>& step) {
  Step(step, Shown(what, url));
  const int got = Fetched(Download(session, what, url, path, expected ? expected->nSize : UINT64_MAX, why, step));
  if (got != UF_READY || expected == nullptr) return got;
  std::uint64_t size = 0;
  verify::Sha256 digest{};
  if (!verify::CheckPackageFile(path, *expected, size, digest, why)) {
    why = std::string(what) + ": " + why;
    return UF_REFUSED;
  }
  Step(step, platform::Format("  %llu bytes, SHA-256 %s: as signed", static_cast<unsigned long long>(size),
                              verify::Hex(digest).c_str()));
  return UF_READY;
}

// The manifest's signature, downloaded beside it and checked.
int VerifyManifest(CHttpDownload& session, const std::string& manifestUrl, const UpdateFiles& files,
                   const std::vector<verify::PublicKey>& keys, std::string& why,
                   const std::function<void(const std::string&)>& step) {
  const std::string url = SignatureUrl(manifestUrl);
  Step(step, Shown("signature", url));
  const std::int32_t result = Download(session, "signature", url, files.strSignature, verify::kMaxSignatureFile, why, step);
  // A manifest without a signature is no signed manifest.
  if (result == HD_NOTFOUND) return UF_REFUSED;
  if (result != HD_OK) return Fetched(result);
  return CheckSignatureFile(files.strManifest, files.strSignature, keys, why, step);
}

}  // namespace

int CheckSignatureFile(const std::string& strFile, const std::string& strSignature,
                       const std::vector<verify::PublicKey>& keys, std::string& why,
                       const std::function<void(const std::string&)>& step) {
  std::string text;
  verify::Signature sig;
  std::size_t keyIndex = 0;
  if (!verify::ReadSmallFile(strSignature, verify::kMaxSignatureFile, text, why) ||
      !verify::ParseSignature(text, sig, why) || !verify::VerifyFile(strFile, sig, keys, keyIndex, why)) {
    why = "signature: " + why;
    return UF_REFUSED;
  }
  Step(step, platform::Format("  key id %s (trusted key %zu of %zu): good signature",
                              verify::KeyIdText(sig.keyId).c_str(), keyIndex + 1, keys.size()));
  Step(step, "  trusted comment: " + platform::EscapeControls(sig.strTrustedComment));
  return UF_READY;
}

UpdateFiles::UpdateFiles(const std::string& dir)
    : strManifest(dir + "update.ini"),
      strSignature(dir + "update.ini.minisig"),
      strDownZip(dir + platform::NativePath("downZip/")),
      strUpdateZip(dir + platform::NativePath("downZip/update")),
      strGameZip(dir + platform::NativePath("downZip/Game")) {}

void SetUpUpdateSession(CHttpDownload& session) {
  session.m_nConnectTimeout = 3000;
  session.m_nReceiveTimeout = 3000;
  session.m_nSendTimeout = 3000;
  session.m_nRetryMode = 1;
  session.m_nRetryDelay = 200;
  session.m_nMaxRetries = 2;
}

std::string SignatureUrl(const std::string& strManifestUrl) {
  const std::size_t end = strManifestUrl.find_first_of("?#");
  std::string url = strManifestUrl;
  url.insert(end == std::string::npos ? url.size() : end, ".minisig");
  return url;
}

int FetchUpdate(CHttpDownload& session, const std::string& strManifestUrl, const std::string& dir,
                const std::optional<std::vector<verify::PublicKey>>& keys, std::string& why,
                const std::function<void(const std::string&)>& step) {
  const UpdateFiles files(dir);
  Step(step, Shown("manifest", strManifestUrl));
  if (Download(session, "manifest", strManifestUrl, files.strManifest, UINT64_MAX, why, step) != HD_OK) return UF_FAILED;
  if (keys) {
    const int verdict = VerifyManifest(session, strManifestUrl, files, *keys, why, step);
    if (verdict != UF_READY) return verdict;
  }

  const std::string strVersion = platform::GetPrivateProfileString("update", "versionNum", "0", 16, files.strManifest);
  const int version = platform::AtoI(strVersion);
  Step(step, platform::Format("  versionNum %d", version));
  if (version <= 1) return UF_NO_UPDATE;
  const std::string strGameUrl = platform::GetPrivateProfileString("update", "GameUrl", "", 512, files.strManifest);
  const std::string strUpdateUrl = platform::GetPrivateProfileString("update", "updateUrl", "", 512, files.strManifest);

  std::optional<verify::SignedManifest> signedManifest;
  if (keys) {
    signedManifest.emplace();
    if (!verify::ReadSignedManifest(files.strManifest, platform::CurrentTime(), *signedManifest, why)) {
      why = "manifest: " + why;
      return UF_REFUSED;
    }
    if (signedManifest->tExpires)
      Step(step, platform::Format("  expires %lld", static_cast<long long>(*signedManifest->tExpires)));
  }
  const verify::SignedPackage* updateExpected = signedManifest ? &signedManifest->update : nullptr;
  const verify::SignedPackage* gameExpected = signedManifest ? &signedManifest->game : nullptr;

  int got = FetchPackage(session, "update package", strUpdateUrl, files.strUpdateZip, updateExpected, why, step);
  if (got == UF_READY) got = FetchPackage(session, "game package", strGameUrl, files.strGameZip, gameExpected, why, step);
  if (got == UF_REFUSED) {
    // Nothing that did not pass may stay where a later step could take it.
    DeleteDirectoryContents(files.strDownZip);
    platform::RemoveEmptyDirectory(files.strDownZip);
  }
  return got;
}
