#include "support/support.h"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/path.h"
#include "support/backend.h"

namespace testing_support {

namespace fs = std::filesystem;

std::string SystemPath(std::string slashed) {
  std::replace(slashed.begin(), slashed.end(), '/', platform::kPathSeparator);
  return slashed;
}

TempDir::TempDir() {
  const fs::path base = fs::temp_directory_path();
  std::mt19937_64 random(std::random_device{}() ^
                         static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const char* digits = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = "tolvane-test-";
    for (int i = 0; i < 6; ++i) name += digits[random() % 36];
    const fs::path dir = base / name;
    std::error_code ec;
    if (!fs::create_directory(dir, ec)) continue;
    // Private, as mkdtemp makes it.
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ec);
    m_path = PathBytes(dir);
    return;
  }
  throw std::runtime_error("cannot make a directory in " + PathBytes(base));
}

TempDir::~TempDir() { RemoveTree(m_path); }

std::string TempDir::operator/(const std::string& rel) const {
  return m_path + platform::kPathSeparator + SystemPath(rel);
}

void WriteFile(const std::string& path, const std::string& bytes, unsigned mode) {
  fs::create_directories(FsPath(path).parent_path());
  std::ofstream f(FsPath(path), std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path);
  std::error_code ec;
  fs::permissions(FsPath(path), static_cast<fs::perms>(mode & 07777), fs::perm_options::replace, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(FsPath(path), std::ios::binary);
  if (!f) return std::string();
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::symlink_status(FsPath(path), ec).type() != fs::file_type::not_found && !ec;
}

bool IsDir(const std::string& path) {
  std::error_code ec;
  return fs::symlink_status(FsPath(path), ec).type() == fs::file_type::directory;
}

bool IsReadOnly(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(FsPath(path), ec);
  return !ec && (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> out = ListEntries(root);
  std::sort(out.begin(), out.end());
  return out;
}

void ScopedEnv::Remember(const std::string& name) {
  if (m_saved.count(name)) return;
  const char* v = std::getenv(name.c_str());
  m_saved[name] = v ? std::optional<std::string>(v) : std::nullopt;
}

void ScopedEnv::Set(const std::string& name, const std::string& value) {
  Remember(name);
  SetEnvironmentValue(name, value);
}

void ScopedEnv::Unset(const std::string& name) {
  Remember(name);
  SetEnvironmentValue(name, std::nullopt);
}

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, value] : m_saved) SetEnvironmentValue(name, value);
}

ScopedLocale::ScopedLocale(const char* name) : m_saved(std::setlocale(LC_ALL, nullptr)) {
  m_bOk = std::setlocale(LC_ALL, name) != nullptr;
}

ScopedLocale::~ScopedLocale() { std::setlocale(LC_ALL, m_saved.c_str()); }

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random() & 0xFF);
  return s;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace testing_support
