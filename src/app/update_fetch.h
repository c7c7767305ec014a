// The update check's road up to the unpacking: the manifest, its signature
// and the verdict on both, then the two packages, each held to its signed
// size and SHA-256. The launcher and tolvane-verify go the same road, so
// that the operator's tool reaches the launcher's verdict.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "download/download.h"
#include "verify/minisign.h"

enum UpdateFetchResult : int {
  UF_NO_UPDATE = 0,  // the manifest announces no update (versionNum 1 or less)
  UF_READY = 1,      // both packages are in place (and, with keys, match the signed manifest)
  UF_REFUSED = 2,    // a signature, a signed value or a package did not pass; packages deleted
  UF_FAILED = 3,     // the manifest or a package could not be downloaded
};

// Where the road puts its files inside a directory (ending with a separator).
struct UpdateFiles {
  explicit UpdateFiles(const std::string& dir);
  std::string strManifest;   // update.ini
  std::string strSignature;  // update.ini.minisig
  std::string strDownZip;    // downZip/
  std::string strUpdateZip;  // downZip/update
  std::string strGameZip;    // downZip/Game
};

// The update check's time limits and retry rules.
void SetUpUpdateSession(CHttpDownload& session);

// The manifest's address with ".minisig" after its path, before any query
// or fragment.
std::string SignatureUrl(const std::string& strManifestUrl);

// The file against its minisign signature file: UF_READY when one of keys
// signed it, else UF_REFUSED (a signature file that cannot be read too).
int CheckSignatureFile(const std::string& strFile, const std::string& strSignature,
                       const std::vector<verify::PublicKey>& keys, std::string& why,
                       const std::function<void(const std::string&)>& step = nullptr);

// Downloads into dir. Without keys (nullopt) nothing is verified, as in a
// launcher built without them. why holds the reason of UF_REFUSED and
// UF_FAILED; step, when given, receives a line for each step passed.
int FetchUpdate(CHttpDownload& session, const std::string& strManifestUrl, const std::string& dir,
                const std::optional<std::vector<verify::PublicKey>>& keys, std::string& why,
                const std::function<void(const std::string&)>& step = nullptr);
