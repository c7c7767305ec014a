// tolvane-unzip ZIP DIR   unpacks ZIP into DIR (exit 0: every item written; 1: not)
// tolvane-unzip -l ZIP    lists the items
// Exit status 64 for a usage error.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/zip_extract.h"
#include "archive/zip_item.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"

namespace {

constexpr int kExitUsage = 64;

// Names come from the archive: none may send escape sequences to the terminal.
std::string Shown(const char* text) { return platform::EscapeControls(text); }

int Usage() {
  std::fprintf(stderr,
               "usage: tolvane-unzip ZIP DIR    unpack ZIP into DIR\n"
               "       tolvane-unzip -l ZIP     list the items of ZIP\n");
  return kExitUsage;
}

const char* Reason(std::uint32_t rc, const ZipItem& item) {
  switch (rc) {
    case ZI_NOFILE:
      return IsUnsafeItemName(item.m_szName) ? "name is absolute or leaves the destination: refused"
                                             : "cannot create the target";
    case ZI_WRITE:
      return "data damaged, encrypted, or not written";
    case ZI_CORRUPT:
      return "entry record damaged, or name of 260 bytes or more";
    case ZI_READ:
      return "local extra field cannot be read";
    default:
      return "failed";
  }
}

std::string Attributes(std::uint32_t a) {
  std::string s = "-----";
  if (a & FILE_ATTRIBUTE_DIRECTORY) s[0] = 'd';
  if (a & FILE_ATTRIBUTE_READONLY) s[1] = 'r';
  if (a & FILE_ATTRIBUTE_HIDDEN) s[2] = 'h';
  if (a & FILE_ATTRIBUTE_SYSTEM) s[3] = 's';
  if (a & FILE_ATTRIBUTE_ARCHIVE) s[4] = 'a';
  return s;
}

int List(const char* zip) {
  ZipHandle* h = ZipOpenFile(zip);
  if (h == nullptr) {
    std::fprintf(stderr, "tolvane-unzip: %s: cannot open as a zip archive\n", Shown(zip).c_str());
    return 1;
  }
  ZipItem item;
  ZipGetItem(h, -1, &item);
  const std::int32_t count = item.m_nIndex;
  int status = 0;
  std::printf("%6s  %-5s  %10s  %10s  %-19s  %s\n", "index", "attr", "compressed", "size", "modified (UTC)",
              "name");
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint32_t rc = ZipGetItem(h, i, &item);
    if (rc != ZI_OK) {
      std::fprintf(stderr, "tolvane-unzip: item %d: %s\n", i, Reason(rc, ZipItem{}));
      status = 1;
      continue;
    }
    std::printf("%6d  %-5s  %10u  %10u  %-19s  %s\n", i, Attributes(item.m_nAttributes).c_str(),
                item.m_nCompressedSize, item.m_nUncompressedSize,
                platform::FormatFileTimeUtc(item.m_tModification).c_str(), Shown(item.m_szName).c_str());
  }
  ZipCloseFile(h);
  return status;
}

// Draws a bar on stderr when it is a terminal, once the run has lasted a
// moment; reports a failing item in any case.
class Progress : public ZipExtractNotice {
 public:
  Progress() : m_bTerminal(platform::StandardErrorIsTerminal()), m_start(std::chrono::steady_clock::now()) {}

  void OnItem(std::int32_t nCount, const ZipItem& item, std::uint32_t nResult) override {
    m_bSawItem = true;
    if (nResult != ZI_OK) {
      EndBar();
      std::fprintf(stderr, "tolvane-unzip: item %d (%s): %s\n", item.m_nIndex, Shown(item.m_szName).c_str(),
                   Reason(nResult, item));
      return;
    }
    if (!m_bTerminal) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_start < std::chrono::milliseconds(500)) return;
    const bool last = item.m_nIndex + 1 == nCount;
    if (!last && now - m_lastDraw < std::chrono::milliseconds(100)) return;
    m_lastDraw = now;
    const int width = 40;
    const int filled = static_cast<int>(static_cast<long long>(item.m_nIndex + 1) * width / nCount);
    std::fprintf(stderr, "\r[%s%s] %d/%d", std::string(filled, '#').c_str(), std::string(width - filled, ' ').c_str(),
                 item.m_nIndex + 1, nCount);
    m_bDrawn = true;
    if (last) EndBar();
  }

  void EndBar() {
    if (m_bDrawn) std::fputc('\n', stderr);
    m_bDrawn = false;
  }

  bool SawItem() const { return m_bSawItem; }

 private:
  bool m_bTerminal;
  bool m_bDrawn = false;
  bool m_bSawItem = false;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc == 3 && std::strcmp(argv[1], "-l") == 0) return List(argv[2]);
  if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0' || argv[1][0] == '-') return Usage();
  Progress progress;
  const BOOL ok = ExtractZipToDirectory(argv[1], argv[2], &progress);
  progress.EndBar();
  if (!ok && !progress.SawItem()) {
    std::fprintf(stderr, "tolvane-unzip: %s: cannot open as a zip archive, or %s cannot be entered\n",
                 Shown(argv[1]).c_str(), Shown(argv[2]).c_str());
  }
  return ok ? 0 : 1;
}
