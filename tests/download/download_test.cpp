// DownloadFile against scripted servers on loopback: what lands on disk,
// when it retries, what it tells the notice receiver, and its bounds.
#include "download/download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "download_cases.h"
#include "loopback.h"
#include "platform/mutex.h"
#include "support/support.h"

using loopback::Responder;
using loopback::ScriptedServer;
using testing_support::Exists;
using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using namespace download_cases;

namespace {

long long Since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

struct Recorder : INotifyReceiver {
  std::vector<DownloadProgress> notices;
  std::vector<std::uint32_t> params;
  void OnNotify(std::uint32_t nMsg, std::uint32_t wParam, const DownloadProgress& p) override {
    params.push_back(nMsg * 10 + wParam);
    notices.push_back(p);
  }
};

}  // namespace

TEST(DownloadFile, SizesArriveByteForByte) {
  for (std::size_t size : {1u, 1000u, 10240u, 10241u, 3u * 1024 * 1024 + 17}) {
    const std::string body = Body(size);
    Responder server({Ok(body)});
    TempDir dir;
    Download d;
    ASSERT_EQ(d.session.DownloadFile(server.Url("/files/data.bin").c_str(), (dir / "data.bin").c_str()), HD_OK)
        << size;
    EXPECT_TRUE(ReadFile(dir / "data.bin") == body) << size;
    EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"data.bin"}) << size;
    EXPECT_EQ(d.session.m_nDownloaded, size);
    EXPECT_EQ(d.session.m_strFileName, "data.bin");
    EXPECT_EQ(d.session.m_hSocket, INVALID_SOCKET);
    EXPECT_EQ(d.session.m_pRecvBuffer, nullptr);
    EXPECT_EQ(d.session.m_hMutex, nullptr);
  }
}

TEST(DownloadFile, AddressesAndPathsCheckedFirst) {
  Responder server({Ok("x")});
  TempDir dir;
  const std::string url = server.Url("/f");
  const std::string file = dir / "f";
  struct {
    const char* name;
    const char* url;
    const char* path;
  } cases[] = {
      {"blank URL", " \t\r\n ", file.c_str()},
      {"no URL", nullptr, file.c_str()},
      {"blank path", url.c_str(), " \t "},
      {"no path", url.c_str(), nullptr},
      {"not http even with the prefix", "ftp://127.0.0.1/f", file.c_str()},
  };
  for (const auto& c : cases) {
    Download d;
    EXPECT_EQ(d.session.DownloadFile(c.url, c.path), HD_FAILED) << c.name;
  }
  EXPECT_EQ(server.connections(), 0);
  EXPECT_TRUE(ListTree(dir.path()).empty());
}

TEST(DownloadFile, AddressWithoutSchemeGetsOne) {
  Responder server({Ok("hello")});
  TempDir dir;
  Download d;
  const std::string bare = "  127.0.0.1:" + std::to_string(server.port()) + "/f  ";
  ASSERT_EQ(d.session.DownloadFile(bare.c_str(), (dir / "f").c_str()), HD_OK);
  EXPECT_EQ(d.session.m_strUrl, "http://127.0.0.1:" + std::to_string(server.port()) + "/f");
  EXPECT_EQ(ReadFile(dir / "f"), "hello");
}

TEST(DownloadFile, AnswersThatMakeNoFile) {
  struct {
    const char* name;
    std::string answer;
    std::int32_t result;
  } cases[] = {
      {"length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", HD_FAILED},
      {"no length", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nabc", HD_FAILED},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc", HD_FAILED},
      {"not a number", "HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\nabc", HD_FAILED},
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nnot", HD_NOTFOUND},
      {"403", "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", HD_FAILED},
  };
  for (const auto& c : cases) {
    Responder server({c.answer});
    TempDir dir;
    Download d;
    d.session.m_nRetryMode = 2;  // none of these is worth a retry
    EXPECT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "sub/f").c_str()), c.result) << c.name;
    EXPECT_EQ(server.connections(), 1) << c.name;
    EXPECT_TRUE(ListTree(dir.path()).empty()) << c.name;
  }
}

TEST(DownloadFile, RetriesByMode) {
  struct {
    const char* name;
    std::int32_t mode;
    std::uint32_t maxRetries;
    std::uint32_t delay;
    std::vector<std::string> answers;
    std::int32_t result;
    int exchanges;
    std::uint32_t retries;
    long long minMs;
  } cases[] = {
      {"mode 0 gives up at once", 0, 5, 0, {kBusy, Ok("x")}, HD_FAILED, 1, 0, 0},
      {"mode 1, limit 2, delay 200", 1, 2, 200, {kBusy}, HD_FAILED, 3, 2, 400},
      {"mode 1 recovering in time", 1, 2, 0, {kBusy, kBusy, Ok("x")}, HD_OK, 3, 2, 0},
      {"mode 2 until the server recovers", 2, 0, 10, {kBusy, kBusy, kBusy, kBusy, kBusy, Ok("x")}, HD_OK, 6, 0, 50},
      {"unknown mode", 7, 5, 0, {kBusy, Ok("x")}, HD_FAILED, 1, 0, 0},
  };
  for (const auto& c : cases) {
    Responder server(c.answers);
    TempDir dir;
    Download d;
    d.session.m_nRetryMode = c.mode;
    d.session.m_nMaxRetries = c.maxRetries;
    d.session.m_nRetryDelay = c.delay;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), c.result) << c.name;
    EXPECT_GE(Since(t0), c.minMs) << c.name;
    EXPECT_EQ(server.connections(), c.exchanges) << c.name;
    EXPECT_EQ(d.session.m_nRetryCount, c.retries) << c.name;
  }
}

TEST(DownloadFile, BrokenTransferStartsAgainFromZero) {
  const std::string body = Body(50000);
  const std::string cut = Ok(body).substr(0, 20000);
  Responder server({cut, Ok(body)});
  TempDir dir;
  Download d;
  ASSERT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), HD_OK);
  EXPECT_EQ(d.session.m_nBrokenCount, 1);
  EXPECT_EQ(d.session.m_nRetryCount, 0u);
  EXPECT_TRUE(ReadFile(dir / "f") == body);
  EXPECT_EQ(server.connections(), 2);
}

TEST(DownloadFile, ServerThatAlwaysCutsOffIsGivenUp) {
  Responder server({Ok(Body(30000)).substr(0, 12000)});
  TempDir dir;
  Download d;
  d.session.m_nRetryMode = 2;
  EXPECT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), HD_FAILED);
  EXPECT_EQ(server.connections(), 1 + HD_MAX_BROKEN_ATTEMPTS);
  EXPECT_EQ(d.session.m_nBrokenCount, 1 + HD_MAX_BROKEN_ATTEMPTS);
  EXPECT_FALSE(Exists(dir / "f"));
}

TEST(DownloadFile, NothingPastTheAnnouncedLength) {
  Responder server({"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + Body(150)});
  TempDir dir;
  Download d;
  ASSERT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), HD_OK);
  EXPECT_TRUE(ReadFile(dir / "f") == Body(100));
}

TEST(DownloadFile, SizeLimitStopsBeforeTheBody) {
  // The limit holds against the announced length; a server that sends more
  // than it announced is cut at the announcement (the case above).
  struct {
    std::uint64_t limit;
    std::int32_t result;
  } cases[] = {{99, HD_TOOLARGE}, {0, HD_TOOLARGE}, {100, HD_OK}, {101, HD_OK}};
  for (const auto& c : cases) {
    Responder server({"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + Body(150)});
    TempDir dir;
    Download d;
    d.session.m_nRetryMode = 2;
    d.session.m_nMaxSize = c.limit;
    EXPECT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), c.result) << c.limit;
    EXPECT_EQ(server.connections(), 1) << c.limit;
    if (c.result == HD_OK) {
      EXPECT_TRUE(ReadFile(dir / "f") == Body(100)) << c.limit;
    } else {
      EXPECT_TRUE(ListTree(dir.path()).empty()) << c.limit;  // not even a temporary file
      EXPECT_EQ(d.session.m_hSocket, INVALID_SOCKET) << c.limit;
    }
  }
}

TEST(DownloadFile, MakesTheTargetsDirectoriesAndUsesTheTempFileBesideIt) {
  // The temporary name shows while the body is still coming.
  std::atomic<bool> sawTemp{false};
  TempDir dir;
  const std::string target = dir / "a/b/c/file.zip";
  ScriptedServer server([&](loopback::PeerSocket fd, int) {
    loopback::ReadRequestHeader(fd);
    loopback::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n0123456789");
    sawTemp = testing_support::WaitFor([&] { return Exists(target + ".down-5"); }, std::chrono::seconds(2));
    loopback::SendAll(fd, "abcdefghij");
  });
  Download d;
  d.session.SetTempSuffix(-5);
  ASSERT_EQ(d.session.DownloadFile(("http://127.0.0.1:" + std::to_string(server.port()) + "/x/file.zip").c_str(),
                                   target.c_str()),
            HD_OK);
  EXPECT_TRUE(sawTemp);
  EXPECT_EQ(ReadFile(target), "0123456789abcdefghij");
  EXPECT_EQ(ListTree(dir.path()), (std::vector<std::string>{"a/", "a/b/", "a/b/c/", "a/b/c/file.zip"}));
}

TEST(DownloadFile, ModificationTimeFromTheResponse) {
  TempDir dir;
  {
    Responder server({Ok("x", "Last-Modified: Wed, 01 Jun 2011 10:00:00 GMT\r\n")});
    Download d;
    ASSERT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "dated").c_str()), HD_OK);
    EXPECT_EQ(testing_support::GetFileTimes(dir / "dated").modification, 1306922400);
  }
  {
    Responder server({Ok("x")});
    Download d;
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "undated").c_str()), HD_OK);
    const std::int64_t modified = testing_support::GetFileTimes(dir / "undated").modification;
    EXPECT_GE(modified, before);
    EXPECT_LE(modified, std::time(nullptr));
  }
}

TEST(DownloadFile, NoticesOfAThreeBlockFile) {
  const std::string body = Body(3 * RECV_BUFFER_SIZE);
  ScriptedServer server([&](loopback::PeerSocket fd, int) {
    loopback::ReadRequestHeader(fd);
    // Header and blocks apart, so that each block is one fill of the ring.
    loopback::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      loopback::SendAll(fd, body.substr(i * RECV_BUFFER_SIZE, RECV_BUFFER_SIZE));
    }
  });
  TempDir dir;
  Download d;
  Recorder recorder;
  d.session.m_bNotify = TRUE;
  d.session.m_hNotifyWnd = &recorder;
  d.session.m_nNotifyMsg = 7;
  ASSERT_EQ(d.session.DownloadFile(("http://127.0.0.1:" + std::to_string(server.port()) + "/pkg/Game").c_str(),
                                   (dir / "Game").c_str()),
            HD_OK);
  std::vector<std::int32_t> events;
  std::vector<std::uint32_t> downloaded;
  for (const DownloadProgress& p : recorder.notices) {
    events.push_back(p.nEvent);
    downloaded.push_back(p.nDownloaded);
    EXPECT_EQ(p.nTotalSize, body.size());
    EXPECT_EQ(p.strFileName, "Game");
  }
  EXPECT_EQ(events, (std::vector<std::int32_t>{2, 1, 3, 3, 3, 3}));
  EXPECT_EQ(downloaded, (std::vector<std::uint32_t>{0, 0, 0, 10240, 20480, 30720}));
  EXPECT_EQ(recorder.params, std::vector<std::uint32_t>(6, 72));
}

TEST(DownloadFile, FirstNoticesOnlyOnceAcrossBrokenTransfers) {
  const std::string body = Body(30000);
  Responder server({Ok(body).substr(0, 15000), Ok(body)});
  TempDir dir;
  Download d;
  Recorder recorder;
  d.session.m_bNotify = TRUE;
  d.session.m_hNotifyWnd = &recorder;
  ASSERT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), HD_OK);
  int firsts = 0;
  for (const DownloadProgress& p : recorder.notices) firsts += p.nEvent != 3;
  EXPECT_EQ(firsts, 2);
  EXPECT_EQ(recorder.notices.back().nDownloaded, body.size());
}

TEST(DownloadFile, StopDuringTheBody) {
  struct Stopper : INotifyReceiver {
    CHttpDownload* session = nullptr;
    void OnNotify(std::uint32_t, std::uint32_t, const DownloadProgress& p) override {
      if (p.nDownloaded > 0) session->m_bStop = TRUE;
    }
  } stopper;
  const std::string body = Body(200000);
  Responder server({Ok(body)});
  TempDir dir;
  Download d;
  stopper.session = &d.session;
  d.session.m_bNotify = TRUE;
  d.session.m_hNotifyWnd = &stopper;
  EXPECT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), HD_STOPPED);
  EXPECT_FALSE(Exists(dir / "f"));
  EXPECT_LT(ReadFile(dir / "f.down").size(), body.size());
}

TEST(DownloadFile, StopWhileTheBodyStallsIsNoBrokenTransfer) {
  // The last connection stalls after its first bytes; the stop comes while
  // the download waits for more. Before it, `cuts` connections break off.
  for (int cuts : {0, HD_MAX_BROKEN_ATTEMPTS}) {
    const std::string answer = Ok(Body(100000));
    std::atomic<bool> stalled{false};
    ScriptedServer server([&](loopback::PeerSocket fd, int index) {
      loopback::ReadRequestHeader(fd);
      loopback::SendAll(fd, answer.substr(0, 30000));
      if (index < cuts) return;
      stalled = true;
      loopback::ReadToEnd(fd, 5000);
    });
    TempDir dir;
    Download d;
    d.session.m_nReceiveTimeout = 500;
    std::thread stopper([&] {
      if (testing_support::WaitFor([&] { return stalled.load(); })) d.session.m_bStop = TRUE;
    });
    const std::int32_t result = d.session.DownloadFile(
        ("http://127.0.0.1:" + std::to_string(server.port()) + "/f").c_str(), (dir / "f").c_str());
    stopper.join();
    EXPECT_EQ(result, HD_STOPPED) << cuts;
    EXPECT_EQ(d.session.m_nBrokenCount, cuts) << cuts;
    EXPECT_EQ(server.connections(), cuts + 1) << cuts;
    EXPECT_FALSE(Exists(dir / "f")) << cuts;
  }
}

TEST(DownloadFile, GivesWayToADownloadThatJustPlacedTheFile) {
  // The test plays the other download: it holds the file's mutex while the
  // target appears, and lets go once this download waits for it.
  for (bool targetThere : {true, false}) {
    TempDir dir;
    const std::string target = dir / "update";
    Responder server({Ok("new contents")});
    Download d;
    bool existed = true;
    platform::MutexHandle other = platform::CreateNamedMutex(d.session.m_strMutexPrefix + "_update", existed);
    ASSERT_NE(other, nullptr);
    ASSERT_FALSE(existed);
    ASSERT_TRUE(platform::WaitNamedMutex(other, 1000));
    if (targetThere) WriteFile(target, "placed by the other");

    std::int32_t result = -1;
    std::thread t([&] { result = d.session.DownloadFile(server.Url("/pkg/update").c_str(), target.c_str()); });
    // It is waiting once its body is complete and its temporary file closed.
    EXPECT_TRUE(testing_support::WaitFor([&] { return ReadFile(target + ".down") == "new contents"; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(d.session.m_hMutex, nullptr);
    platform::ReleaseNamedMutex(other);
    t.join();
    platform::CloseNamedMutex(other);

    EXPECT_EQ(result, HD_OK);
    EXPECT_EQ(ReadFile(target), targetThere ? "placed by the other" : "new contents");
    EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"update"});
  }
}

TEST(DownloadFile, TargetThatCannotBeReplacedIsAFailure) {
  TempDir dir;
  std::filesystem::create_directories(dir / "busy/inside");
  Responder server({Ok("data")});
  Download d;
  EXPECT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "busy").c_str()), HD_FAILED);
  EXPECT_TRUE(testing_support::IsDir(dir / "busy/inside"));
}
