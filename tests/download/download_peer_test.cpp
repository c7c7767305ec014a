// DownloadFile against nginx: what a real server's answers leave on disk.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "download/download.h"
#include "support/peers.h"
#include "support/support.h"

using testing_support::ListTree;
using testing_support::NginxPeer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WaitFor;
using testing_support::WriteFile;

namespace {

struct Download {
  CHttpDownload session;
  Download() {
    session.m_nConnectTimeout = session.m_nSendTimeout = session.m_nReceiveTimeout = 5000;
    session.m_strMutexPrefix = "tolvane-peer-" + std::to_string(getpid());
  }
};

}  // namespace

TEST(DownloadFromNginx, SizesArriveByteForByte) {
  TempDir www, out;
  const std::vector<std::size_t> sizes = {1, 1000, 10239, 10240, 10241, 4 * 1024 * 1024 + 3};
  for (std::size_t size : sizes) WriteFile(www / std::to_string(size), RandomBytes(size, static_cast<unsigned>(size)));
  NginxPeer nginx(www.path());
  ASSERT_NE(nginx.port(), 0);
  std::vector<std::string> expected;
  for (std::size_t size : sizes) {
    const std::string name = std::to_string(size);
    Download d;
    ASSERT_EQ(d.session.DownloadFile(nginx.Url("/" + name).c_str(), (out / name).c_str()), HD_OK) << size;
    EXPECT_TRUE(ReadFile(out / name) == ReadFile(www / name)) << size;
    EXPECT_EQ(d.session.m_nContentLength, size);
    EXPECT_EQ(d.session.m_nReceived, size);
    EXPECT_EQ(d.session.m_nBrokenCount, 0);
    expected.push_back(name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListTree(out.path()), expected);  // no temporary file left
}

TEST(DownloadFromNginx, AnswersThatMakeNoFile) {
  TempDir www, out;
  WriteFile(www / "empty", "");
  std::filesystem::create_directories(www / "noindex");
  NginxPeer nginx(www.path());
  ASSERT_NE(nginx.port(), 0);
  struct {
    const char* path;
    std::int32_t result;
  } cases[] = {
      {"/empty", HD_FAILED},    // Content-Length: 0
      {"/missing", HD_NOTFOUND},
      {"/noindex/", HD_FAILED},  // 403
  };
  for (const auto& c : cases) {
    Download d;
    d.session.m_nRetryMode = 2;  // none of them is worth a retry
    EXPECT_EQ(d.session.DownloadFile(nginx.Url(c.path).c_str(), (out / "sub/f").c_str()), c.result) << c.path;
    EXPECT_TRUE(ListTree(out.path()).empty()) << c.path;
  }
  // One request each. nginx logs a request once it has answered it, so
  // the last line may come a moment after the download has ended.
  const std::string requests = "GET /empty HTTP/1.1\nGET /missing HTTP/1.1\nGET /noindex/ HTTP/1.1\n";
  EXPECT_TRUE(WaitFor([&] { return nginx.AccessLog() == requests; }, std::chrono::seconds(2))) << nginx.AccessLog();
}

TEST(DownloadFromNginx, FollowsItsRedirectAndKeepsTheFilesTime) {
  TempDir www, out;
  WriteFile(www / "pkg/index.html", RandomBytes(30000, 7));
  struct timespec times[2] = {{1306922400, 0}, {1306922400, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (www / "pkg/index.html").c_str(), times, 0), 0);
  NginxPeer nginx(www.path());
  ASSERT_NE(nginx.port(), 0);
  Download d;
  // nginx sends a directory without its slash to the slashed one (301).
  ASSERT_EQ(d.session.DownloadFile(nginx.Url("/pkg").c_str(), (out / "game.zip").c_str()), HD_OK);
  EXPECT_TRUE(ReadFile(out / "game.zip") == ReadFile(www / "pkg/index.html"));
  EXPECT_EQ(d.session.m_strUrl, nginx.Url("/pkg/"));
  const std::string requests = "GET /pkg HTTP/1.1\nGET /pkg/ HTTP/1.1\n";
  EXPECT_TRUE(WaitFor([&] { return nginx.AccessLog() == requests; }, std::chrono::seconds(2))) << nginx.AccessLog();
  struct stat st {};
  ASSERT_EQ(stat((out / "game.zip").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1306922400);
}
