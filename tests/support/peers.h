// Real servers for the peer tests: nginx, tinyproxy, danted and microsocks,
// each a foreground process that a test starts on 127.0.0.1 and stops.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/support.h"

namespace testing_support {

// What the four peers share: a scratch directory for configuration, pid and
// log files, and one server process in a process group of its own that is
// killed when the thread that started it ends, even by a crash. The
// constructors of the peers start the server and wait (at most ten seconds)
// until it listens on its port; a server that cannot start is reported as a
// test failure with its own log, and port() is then 0.
class PeerServer {
 public:
  PeerServer(const PeerServer&) = delete;
  PeerServer& operator=(const PeerServer&) = delete;
  int port() const { return m_port; }
  // What the server wrote to its standard output and error so far.
  std::string ServerLog() const;

 protected:
  PeerServer() = default;
  ~PeerServer();
  // Runs the argv that prepare(port) returns (after writing whatever
  // configuration that port needs) until it listens on 127.0.0.1:port. A
  // port that another process takes first makes the server exit; it is then
  // tried again on a fresh port.
  void Start(const std::string& name, const std::function<std::vector<std::string>(int port)>& prepare);
  void Stop();
  const TempDir& dir() const { return m_dir; }

 private:
  TempDir m_dir;
  int m_pid = -1;
  int m_port = 0;
};

// What nginx presents over TLS: its certificate (PEM, the chain after it),
// its key, and the protocol versions it speaks (nginx's ssl_protocols).
struct NginxTls {
  std::string certificate;
  std::string key;
  std::string protocols = "TLSv1.2 TLSv1.3";
};

// nginx serving the directory root as it is (sendfile on, no compression,
// every type application/octet-stream), one process running as the test's
// user, so that the files need no permissions for anyone else. With tls it
// speaks https only, and takes request headers of up to 64 KiB.
class NginxPeer : public PeerServer {
 public:
  explicit NginxPeer(const std::string& root, const std::optional<NginxTls>& tls = std::nullopt);
  std::string Url(const std::string& path) const;  // http(s)://127.0.0.1:port + path
  // The request lines it logged so far, one a line ("GET /a HTTP/1.1").
  std::string AccessLog() const;

 private:
  bool m_bTls = false;
};

// tinyproxy as an HTTP proxy (GET and CONNECT) for clients on 127.0.0.1 that
// reaches 127.0.0.0/8 and localhost only. With a user name it requires Basic
// credentials: none gives 407, wrong ones give 401. tinyproxy takes only
// letters, digits and "-._" in both.
class TinyproxyPeer : public PeerServer {
 public:
  explicit TinyproxyPeer(const std::string& user = "", const std::string& password = "");
};

// danted for SOCKS4 and SOCKS5 CONNECT to 127.0.0.0/8. SOCKS4A is not
// understood: danted takes its request for one to 0.0.0.x and refuses it
// (reply 91). kUserName adds a throwaway system user for the life of the
// peer and requires SOCKS5 user name/password authentication with it; SOCKS4
// and unauthenticated SOCKS5 clients are then refused.
class DantePeer : public PeerServer {
 public:
  enum class Auth { kNone, kUserName };
  explicit DantePeer(Auth auth = Auth::kNone);
  ~DantePeer();
  const std::string& user() const { return m_strUser; }          // empty for kNone
  const std::string& password() const { return m_strPassword; }
  // False when not root (users and danted's privileged rules need it) or
  // danted is missing; tests then GTEST_SKIP.
  static bool CanRun();

 private:
  bool AddUser();
  void RemoveUser();
  std::string m_strUser;
  std::string m_strPassword;
};

// microsocks for SOCKS5 CONNECT, with user name/password authentication when
// user is not empty. Its own connections start from 127.0.0.1.
class MicrosocksPeer : public PeerServer {
 public:
  MicrosocksPeer(const std::string& user, const std::string& password);
};

}  // namespace testing_support
