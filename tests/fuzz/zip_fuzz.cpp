// An untrusted archive: listed item by item, then unpacked into a fresh
// directory. Nothing may appear outside that directory, and the current
// directory must be the caller's again afterwards.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "archive/zip_extract.h"
#include "archive/zip_item.h"
#include "fuzz_check.h"

namespace fs = std::filesystem;

namespace {

// scratch/in.zip, and the destination four levels down, so that a name
// climbing out of it lands in the tree that is checked.
struct Scratch {
  fs::path root;
  fs::path zip;
  fs::path dest;
  Scratch() {
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100 && root.empty(); ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / ("tolvane-zipfuzz-" + std::to_string(random() % 1000000000));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) root = candidate;
    }
    FUZZ_CHECK(!root.empty());
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::replace);
    zip = root / "in.zip";
    dest = root / "a" / "b" / "c" / "dest";
    fs::create_directories(dest.parent_path());
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

bool IsBelow(const fs::path& path, const fs::path& dir) {
  const std::string p = path.string();
  const std::string d = (dir / "").string();
  return p.compare(0, d.size(), d) == 0;
}

// Every directory below root, made enterable and writable again so that
// whatever an archive left can be removed.
void MakeRemovable(const fs::path& root) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::replace, ec);
    }
  }
}

// Lists every item; collects the absolute names that do not exist yet,
// which the extraction must not create either.
void ListItems(const std::string& zipPath, std::vector<std::string>& absent) {
  ZipHandle* handle = ZipOpenFile(zipPath.c_str());
  if (handle == nullptr) return;
  ZipItem item;
  FUZZ_CHECK(ZipGetItem(handle, -1, &item) == ZI_OK);
  const std::int32_t count = item.m_nIndex;
  FUZZ_CHECK(count >= 0 && count <= 0xFFFF);
  for (std::int32_t i = 0; i < count; ++i) {
    item = ZipItem{};
    std::memset(item.m_szName, 0x5A, sizeof item.m_szName);
    if (ZipGetItem(handle, i, &item) != ZI_OK) continue;
    FUZZ_CHECK(item.m_nIndex == i);
    FUZZ_CHECK(std::memchr(item.m_szName, '\0', sizeof item.m_szName) != nullptr);
    const std::string path = ItemNameToPath(item.m_szName);
    std::error_code ec;
    // Rooted, or on a drive of Windows: a place outside every destination.
    const bool absolute = (!path.empty() && path[0] == '/') || (path.size() >= 2 && path[1] == ':');
    if (absolute && !fs::exists(fs::symlink_status(path, ec))) absent.push_back(path);
  }
  FUZZ_CHECK(ZipGetItem(handle, count, &item) == ZI_ARGS);
  FUZZ_CHECK(ZipCloseFile(handle) == ZI_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Scratch& s = TheScratch();
  {
    std::ofstream out(s.zip, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(out.good());
  }
  const fs::path cwd = fs::current_path();

  std::vector<std::string> absent;
  ListItems(s.zip.string(), absent);
  ExtractZipToDirectory(s.zip.string(), s.dest.string());

  FUZZ_CHECK(fs::current_path() == cwd);
  for (const std::string& path : absent) {
    std::error_code missing;
    FUZZ_CHECK(!fs::exists(fs::symlink_status(path, missing)));
  }
  std::error_code ec;
  // Only the archive, the destination's parents and what lies in the
  // destination may exist.
  for (auto it = fs::recursive_directory_iterator(s.root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path& p = it->path();
    if (p == s.zip || IsBelow(p, s.dest) || p == s.dest) continue;
    const bool parent = p == s.root / "a" || p == s.root / "a" / "b" || p == s.root / "a" / "b" / "c";
    if (!parent) std::fprintf(stderr, "outside the destination: %s\n", p.string().c_str());
    FUZZ_CHECK(parent);
  }
  FUZZ_CHECK(!ec);
  // Nothing in the destination is a link that could lead elsewhere later.
  for (auto it = fs::recursive_directory_iterator(s.dest, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    FUZZ_CHECK(!it->is_symlink());
  }

  MakeRemovable(s.dest);
  fs::remove_all(s.dest, ec);
  FUZZ_CHECK(!ec && !fs::exists(s.dest));
  return 0;
}
