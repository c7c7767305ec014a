// tolvane-verify [--key KEY]... MANIFEST_URL   the launcher's road to an update, without unpacking
// tolvane-verify [--key KEY]... FILE           FILE against FILE.minisig
// Exit status: 0 the launcher would accept, 1 it would refuse (the reason on
// stderr), 3 the manifest or a package could not be downloaded (or FILE
// read), 64 usage error. Nothing is unpacked or started.
#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/update_fetch.h"
#include "fs/paths.h"
#include "net/sock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "verify/builtin_keys.h"
#include "verify/minisign.h"

namespace {

constexpr int kExitAccepted = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUnreachable = 3;
constexpr int kExitUsage = 64;

const char kUsage[] =
    "usage: tolvane-verify [--key KEY]... MANIFEST_URL\n"
    "       tolvane-verify [--key KEY]... FILE\n"
    "  MANIFEST_URL   the manifest, its signature (.minisig after the path) and both packages are\n"
    "                 downloaded and checked as the launcher checks them; nothing is unpacked\n"
    "  FILE           FILE is checked against FILE.minisig\n"
    "  --key KEY      a minisign public key (a .pub file or its base64 line); only the keys\n"
    "                 given count. Without --key the keys built in with TOLVANE_UPDATE_KEYS do\n"
    "exit status: 0 the launcher would accept, 1 it would refuse, 3 a download failed\n"
    "             (or FILE cannot be read), 64 usage error\n";

int UsageError(const std::string& why) {
  std::fprintf(stderr, "tolvane-verify: %s\n%s", why.c_str(), kUsage);
  return kExitUsage;
}

void Print(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// KEY as a base64 line, else as a .pub file.
bool ReadKey(const std::string& arg, verify::PublicKey& key, std::string& why) {
  if (verify::ParseKeyLine(arg, key, why)) return true;
  std::string text;
  if (!verify::ReadSmallFile(arg, verify::kMaxKeyFile, text, why)) {
    why = platform::EscapeControls(arg) + ": neither a public key line nor a readable file (" + why + ")";
    return false;
  }
  if (!verify::ParseKeyFile(text, key, why)) {
    why = platform::EscapeControls(arg) + ": " + why;
    return false;
  }
  return true;
}

int Refused(const std::string& why) {
  std::fprintf(stderr, "refused: %s\n", platform::EscapeControls(why).c_str());
  return kExitRefused;
}

int VerifyUrl(const std::string& url, const std::vector<verify::PublicKey>& keys) {
  const std::string dir = platform::MakeTempDirectory("tolvane-verify");
  if (dir.empty()) {
    std::fprintf(stderr, "tolvane-verify: no temporary directory can be made\n");
    return kExitUnreachable;
  }
  int result = UF_FAILED;
  std::string why;
  {
    CHttpDownload session;
    SetUpUpdateSession(session);
    // Its own per-file mutexes: a launcher's downloads never wait for it.
    session.m_strMutexPrefix = "tolvane-verify";
    result = FetchUpdate(session, url, dir, keys, why, Print);
  }
  DeleteDirectoryContents(dir);
  platform::RemoveEmptyDirectory(dir);
  switch (result) {
    case UF_NO_UPDATE:
      Print("accepted: no update is offered (versionNum 1 or less), so the launcher fetches no package");
      return kExitAccepted;
    case UF_READY:
      Print("accepted: the launcher would unpack both packages and start update.exe");
      return kExitAccepted;
    case UF_REFUSED:
      return Refused(why);
    default:
      std::fprintf(stderr, "%s\n", platform::EscapeControls(why).c_str());
      return kExitUnreachable;
  }
}

int VerifyFile(const std::string& file, const std::vector<verify::PublicKey>& keys) {
  std::string why;
  Print("file: " + platform::EscapeControls(file));
  if (!platform::PathExists(file) || platform::PathIsDirectory(file)) {
    std::fprintf(stderr, "tolvane-verify: %s: no such file\n", platform::EscapeControls(file).c_str());
    return kExitUnreachable;
  }
  const std::string signature = file + ".minisig";
  Print("signature: " + platform::EscapeControls(signature));
  if (CheckSignatureFile(file, signature, keys, why, Print) != UF_READY) return Refused(why);
  Print("accepted: signed by a trusted key");
  return kExitAccepted;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::vector<verify::PublicKey> given;
  bool keysGiven = false;
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--key" || arg.rfind("--key=", 0) == 0) {
      std::string value;
      if (arg == "--key") {
        if (i + 1 >= argc) return UsageError("--key needs a value");
        value = argv[++i];
      } else {
        value = arg.substr(6);
      }
      verify::PublicKey key;
      std::string why;
      if (!ReadKey(value, key, why)) return UsageError(why);
      given.push_back(key);
      keysGiven = true;
    } else {
      return UsageError("unknown option " + platform::EscapeControls(arg));
    }
  }
  if (operands.size() != 1 || operands[0].empty()) return UsageError("give one MANIFEST_URL or FILE");
  std::vector<verify::PublicKey> keys = given;
  if (!keysGiven) {
    const std::optional<std::vector<verify::PublicKey>> builtIn = verify::BuiltInKeys();
    if (!builtIn) return UsageError("built without TOLVANE_UPDATE_KEYS: give the keys with --key");
    keys = *builtIn;
  }
  const std::string& target = operands[0];
  if (target.find("://") != std::string::npos) {
    SockStartup();
    return VerifyUrl(target, keys);
  }
  return VerifyFile(target, keys);
}
