// One mutex is two lock files in a directory of the user's own:
//   <base>.p  every open handle holds a shared lock on it: an exclusive
//             lock that can be had means no other handle exists;
//   <base>.o  the owner holds an exclusive lock on it.
// Creating, opening and the last close (which removes the files) run under
// an exclusive lock on "guard", so the "already exists" answer cannot race
// with another creator, and a file is never removed while someone opens it.
#include "platform/mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/text.h"

namespace platform {

struct NamedMutex {
  int nDirFd;
  int nPresenceFd;
  int nOwnerFd;
  std::string strBase;
};

namespace {

// SHA-256, for names too long to spell out in a file name.
class Sha256 {
 public:
  std::string HexDigest(const std::string& data) {
    std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
    std::string msg = data;
    msg += '\x80';
    while (msg.size() % 64 != 56) msg += '\0';
    for (int i = 7; i >= 0; --i) msg += static_cast<char>((bits >> (i * 8)) & 0xFF);
    for (std::size_t off = 0; off < msg.size(); off += 64) Block(reinterpret_cast<const unsigned char*>(msg.data() + off));
    std::string hex;
    for (std::uint32_t v : m_h) hex += Format("%08x", static_cast<unsigned>(v));
    return hex;
  }

 private:
  static std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

  void Block(const unsigned char* p) {
    static constexpr std::uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = std::uint32_t{p[4 * i]} << 24 | std::uint32_t{p[4 * i + 1]} << 16 | std::uint32_t{p[4 * i + 2]} << 8 |
             std::uint32_t{p[4 * i + 3]};
    for (int i = 16; i < 64; ++i) {
      std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = m_h;
    for (int i = 0; i < 64; ++i) {
      std::uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
      std::uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
      std::uint32_t t1 = v[7] + s1 + ch + k[i] + w[i];
      std::uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
      std::uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      std::uint32_t t2 = s0 + maj;
      v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (int i = 0; i < 8; ++i) m_h[i] += v[i];
  }

  std::array<std::uint32_t, 8> m_h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
};

// Longest spelled-out name: with its prefix and suffix it stays well under
// the 255 bytes a file name may have.
constexpr std::size_t kMaxSpelledName = 200;

// "n_" and the name with every byte but [A-Za-z0-9_-] as %XX: one file name
// per name, no '/', no '.', never "." or "..". A longer result becomes "h_"
// and the name's SHA-256; the two prefixes keep the two kinds apart.
std::string LockFileBase(const std::string& name) {
  std::string spelled = "n_";
  for (unsigned char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (plain) spelled += static_cast<char>(c);
    else spelled += Format("%%%02X", c);
    if (spelled.size() > kMaxSpelledName) return "h_" + Sha256().HexDigest(name);
  }
  return spelled;
}

// $XDG_RUNTIME_DIR/tolvane, or /tmp/tolvane-<uid> where the session has no
// runtime directory.
std::string LockDirectoryPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/tolvane";
  return Format("/tmp/tolvane-%u", static_cast<unsigned>(geteuid()));
}

// The lock directory, opened without following a link, and only when it is
// a directory of ours that nobody else may enter: in a shared /tmp another
// user could have made it first.
int OpenLockDirectory() {
  const std::string path = LockDirectoryPath();
  const bool made = mkdir(path.c_str(), 0700) == 0;
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  // The umask may have taken bits from the one we made; an old one with
  // others' bits may hold their files already.
  if (made && (st.st_mode & 07777) != 0700 && fchmod(fd, 0700) == 0) st.st_mode = S_IFDIR | 0700;
  if ((st.st_mode & 07777) != 0700) {
    close(fd);
    return -1;
  }
  return fd;
}

int OpenLockFile(int dirFd, const std::string& name) {
  int fd = openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  return fd;
}

int Lock(int fd, int op) {
  int rc;
  do rc = flock(fd, op);
  while (rc != 0 && errno == EINTR);
  return rc;
}

// Held for a moment only: waiting for it without a limit is safe.
class GuardLock {
 public:
  explicit GuardLock(int dirFd) : m_fd(OpenLockFile(dirFd, "guard")) {
    if (m_fd >= 0 && Lock(m_fd, LOCK_EX) != 0) {
      close(m_fd);
      m_fd = -1;
    }
  }
  ~GuardLock() {
    if (m_fd >= 0) close(m_fd);
  }
  GuardLock(const GuardLock&) = delete;
  GuardLock& operator=(const GuardLock&) = delete;
  bool IsHeld() const { return m_fd >= 0; }

 private:
  int m_fd;
};

void CloseAll(int a, int b, int c) {
  for (int fd : {a, b, c}) {
    if (fd >= 0) close(fd);
  }
}

}  // namespace

MutexHandle CreateNamedMutex(const std::string& name, bool& alreadyExisted) {
  alreadyExisted = false;
  int dirFd = OpenLockDirectory();
  if (dirFd < 0) return nullptr;
  const std::string base = LockFileBase(name);
  int presenceFd = -1, ownerFd = -1;
  {
    GuardLock guard(dirFd);
    if (guard.IsHeld()) {
      presenceFd = OpenLockFile(dirFd, base + ".p");
      ownerFd = presenceFd >= 0 ? OpenLockFile(dirFd, base + ".o") : -1;
    }
    if (ownerFd < 0) {
      CloseAll(dirFd, presenceFd, -1);
      return nullptr;
    }
    // Nobody else when the exclusive lock can be had; it then becomes the
    // shared lock of an open handle. The change is not atomic, but every
    // other test of it waits for the guard.
    bool ok = Lock(presenceFd, LOCK_EX | LOCK_NB) == 0;
    if (!ok && errno == EWOULDBLOCK) ok = alreadyExisted = true;
    if (!ok || Lock(presenceFd, LOCK_SH | LOCK_NB) != 0) {
      CloseAll(dirFd, presenceFd, ownerFd);
      alreadyExisted = false;
      return nullptr;
    }
  }
  return new NamedMutex{dirFd, presenceFd, ownerFd, base};
}

bool WaitNamedMutex(MutexHandle h, std::int32_t timeoutMs) {
  if (h == nullptr) return false;
  if (timeoutMs < 0) return Lock(h->nOwnerFd, LOCK_EX) == 0;
  // flock has no time limit of its own: try, and sleep a little longer each time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (Lock(h->nOwnerFd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(10));
  }
}

void ReleaseNamedMutex(MutexHandle h) {
  if (h != nullptr) Lock(h->nOwnerFd, LOCK_UN);
}

void CloseNamedMutex(MutexHandle h) {
  if (h == nullptr) return;
  Lock(h->nOwnerFd, LOCK_UN);
  {
    // The last handle takes its files along. Without the guard they just
    // stay: an unlocked lock file means nothing.
    GuardLock guard(h->nDirFd);
    if (guard.IsHeld() && Lock(h->nPresenceFd, LOCK_EX | LOCK_NB) == 0) {
      unlinkat(h->nDirFd, (h->strBase + ".o").c_str(), 0);
      unlinkat(h->nDirFd, (h->strBase + ".p").c_str(), 0);
    }
    CloseAll(h->nPresenceFd, h->nOwnerFd, -1);
  }
  close(h->nDirFd);
  delete h;
}

}  // namespace platform
