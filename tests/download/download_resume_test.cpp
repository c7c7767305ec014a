// A broken transfer goes on where it broke: the range requests that
// DownloadFile makes, the answers it trusts to continue the temporary file,
// and the bound on breaks that make no progress.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/download.h"
#include "download_cases.h"
#include "loopback.h"
#include "support/support.h"

using loopback::Responder;
using loopback::ScriptedServer;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using namespace download_cases;

namespace {

const std::string kEtag = "ETag: \"v1\"\r\n";
const std::string kDate = "Last-Modified: Wed, 21 Oct 2015 07:28:00 GMT\r\n";

std::string OkHead(std::size_t size, const std::string& extra) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n" + extra + "\r\n";
}

std::string PartialHead(std::size_t from, std::size_t total, const std::string& extra = "") {
  return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
         std::to_string(total - 1) + "/" + std::to_string(total) + "\r\nContent-Length: " +
         std::to_string(total - from) + "\r\n" + extra + "\r\n";
}

// The rest of body from `from` on, as a server that honours the range sends it.
std::string Partial(const std::string& body, std::size_t from, std::size_t total) {
  return PartialHead(from, total) + body.substr(from);
}

// The value of a request's header line; empty when it has none.
std::string Field(const std::string& request, const std::string& name) {
  const std::size_t at = request.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  const std::size_t start = at + name.size() + 4;
  return request.substr(start, request.find("\r\n", start) - start);
}

// Serves one resource with ranges, If-Range by ETag, and cuts every
// connection after `cut` bytes of body; records the ranges asked for.
class CuttingServer {
 public:
  CuttingServer(std::string body, std::size_t cut)
      : m_body(std::move(body)), m_cut(cut), m_server([this](loopback::PeerSocket fd, int) { Serve(fd); }) {}
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_server.port()) + "/big.bin"; }
  int connections() const { return m_server.connections(); }
  std::size_t sent() const { return m_sent; }
  std::vector<std::string> ranges() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_ranges;
  }

 private:
  void Serve(loopback::PeerSocket fd) {
    const std::string request = loopback::ReadRequestHeader(fd);
    const std::string range = Field(request, "Range");
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_ranges.push_back(range);
    }
    std::size_t from = 0;
    if (range.rfind("bytes=", 0) == 0 && Field(request, "If-Range") == kValidator) from = std::stoul(range.substr(6));
    const std::string extra = "ETag: " + kValidator + "\r\n";
    const std::string head = from == 0 ? OkHead(m_body.size(), extra) : PartialHead(from, m_body.size(), extra);
    const std::size_t n = std::min(m_cut, m_body.size() - from);
    if (loopback::SendAll(fd, head) && loopback::SendAll(fd, m_body.substr(from, n))) m_sent += n;
  }

  const std::string kValidator = "\"big\"";
  std::string m_body;
  std::size_t m_cut;
  std::atomic<std::size_t> m_sent{0};
  mutable std::mutex m_lock;
  std::vector<std::string> m_ranges;
  ScriptedServer m_server;
};

}  // namespace

TEST(DownloadResume, WhatTheNextAnswerDoesWithTheBytesInHand) {
  const std::string body = Body(50000);
  const std::string other = Body(60000).substr(7000);  // the resource changed: 53000 other bytes
  // The first answer breaks off after n bytes of its body.
  const std::size_t n = 20000;
  struct Case {
    const char* name;
    std::string first;                 // the first answer's extra header lines
    std::vector<std::string> answers;  // what the later connections get
    bool ranged;                       // the second request asks for the rest
    std::string ifRange;
    int connections;
    bool changed;                      // the file ends as `other`
  };
  const std::string k416 = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n";
  const std::string kDateValue = "Wed, 21 Oct 2015 07:28:00 GMT";
  const Case cases[] = {
      {"a 206 of the rest", kEtag, {Partial(body, n, body.size())}, true, "\"v1\"", 2, false},
      {"the range ignored", kEtag, {Ok(body, kEtag)}, true, "\"v1\"", 2, false},
      {"changed meanwhile", kEtag, {Ok(other, "ETag: \"v2\"\r\n")}, true, "\"v1\"", 2, true},
      {"416", kEtag, {k416, Ok(body, kEtag)}, true, "\"v1\"", 3, false},
      {"206 for another start", kEtag, {Partial(body, n - 1, body.size()), Ok(body)}, true, "\"v1\"", 3, false},
      {"206 with another total", kEtag, {Partial(body + "x", n, body.size() + 1), Ok(body)}, true, "\"v1\"", 3, false},
      {"206 short of the end", kEtag,
       {"HTTP/1.1 206 Partial\r\nContent-Range: bytes 20000-48999/50000\r\nContent-Length: 29000\r\n\r\n" +
            body.substr(n, 29000),
        Ok(body)},
       true, "\"v1\"", 3, false},
      {"206 without Content-Range", kEtag,
       {"HTTP/1.1 206 Partial\r\nContent-Length: " + std::to_string(body.size() - n) + "\r\n\r\n" + body.substr(n),
        Ok(body)},
       true, "\"v1\"", 3, false},
      {"no validator", "", {Ok(body)}, false, "", 2, false},
      {"a date alone", kDate, {Partial(body, n, body.size())}, true, kDateValue, 2, false},
      {"a weak ETag gives way to the date", "ETag: W/\"w\"\r\n" + kDate, {Partial(body, n, body.size())}, true,
       kDateValue, 2, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> answers = {OkHead(body.size(), c.first) + body.substr(0, n)};
    answers.insert(answers.end(), c.answers.begin(), c.answers.end());
    Responder server(answers);
    TempDir dir;
    Download d;
    ASSERT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), HD_OK) << c.name;
    EXPECT_TRUE(ReadFile(dir / "f") == (c.changed ? other : body)) << c.name;
    EXPECT_EQ(server.connections(), c.connections) << c.name;
    EXPECT_EQ(Field(server.Request(1), "Range"), c.ranged ? "bytes=" + std::to_string(n) + "-" : "") << c.name;
    EXPECT_EQ(Field(server.Request(1), "If-Range"), c.ifRange) << c.name;
    // A fallback asks for the whole resource.
    if (c.connections == 3) {
      EXPECT_EQ(Field(server.Request(2), "Range"), "") << c.name;
    }
    EXPECT_EQ(d.session.m_nTotalSize, c.changed ? other.size() : body.size()) << c.name;
    EXPECT_EQ(d.session.m_nBrokenCount, 1) << c.name;
  }
}

TEST(DownloadResume, BreaksThatMakeProgressDoNotCount) {
  const std::size_t kMiB = 1 << 20;
  struct Case {
    const char* name;
    std::size_t size, cut;
    bool resume;
    std::int32_t result;
    int connections;
  } cases[] = {
      // 13 connections, each 5 MiB further than the one before.
      {"64 MiB cut every 5 MiB", 64 * kMiB, 5 * kMiB, true, HD_OK, 13},
      {"a break every MiB", 7 * kMiB, kMiB, true, HD_OK, 7},
      // Progress, but less than a MiB a break: as a server that always cuts off.
      {"a byte short of a MiB a break", 7 * kMiB, kMiB - 1, true, HD_FAILED, 1 + HD_MAX_BROKEN_ATTEMPTS},
      {"one block a connection", 100000, RECV_BUFFER_SIZE, true, HD_FAILED, 1 + HD_MAX_BROKEN_ATTEMPTS},
      // Starting again from zero, only the first break gets further.
      {"without resuming", 7 * kMiB, kMiB, false, HD_FAILED, 2 + HD_MAX_BROKEN_ATTEMPTS},
  };
  for (const Case& c : cases) {
    const std::string body = Body(c.size);
    CuttingServer server(body, c.cut);
    TempDir dir;
    Download d;
    d.session.m_bResume = c.resume ? TRUE : FALSE;
    EXPECT_EQ(d.session.DownloadFile(server.Url().c_str(), (dir / "big.bin").c_str()), c.result) << c.name;
    EXPECT_EQ(server.connections(), c.connections) << c.name;
    EXPECT_EQ(d.session.m_nBrokenCount, c.connections - (c.result == HD_OK ? 1 : 0)) << c.name;
    const std::vector<std::string> ranges = server.ranges();
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_EQ(ranges[i], c.resume && i > 0 ? "bytes=" + std::to_string(i * c.cut) + "-" : "") << c.name << i;
    }
    if (c.result == HD_OK) {
      EXPECT_TRUE(ReadFile(dir / "big.bin") == body) << c.name;
      // Each byte went over the wire once, not the square of it.
      EXPECT_EQ(server.sent(), body.size()) << c.name;
      EXPECT_EQ(d.session.m_nTotalSize, body.size()) << c.name;
    } else {
      EXPECT_FALSE(Exists(dir / "big.bin")) << c.name;
    }
  }
}

TEST(DownloadResume, NoticesCarryOnFromTheBytesInHand) {
  struct Recorder : INotifyReceiver {
    std::vector<DownloadProgress> notices;
    void OnNotify(std::uint32_t, std::uint32_t, const DownloadProgress& p) override { notices.push_back(p); }
  } recorder;
  const std::string body = Body(3 * RECV_BUFFER_SIZE);
  const std::size_t n = 2 * RECV_BUFFER_SIZE;
  Responder server({OkHead(body.size(), kEtag) + body.substr(0, n), Partial(body, n, body.size())});
  TempDir dir;
  Download d;
  d.session.m_bNotify = TRUE;
  d.session.m_hNotifyWnd = &recorder;
  ASSERT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), HD_OK);
  ASSERT_GE(recorder.notices.size(), 4u);
  EXPECT_EQ(recorder.notices[0].nEvent, 2);
  EXPECT_EQ(recorder.notices[1].nEvent, 1);
  std::uint32_t last = 0;
  for (std::size_t i = 2; i < recorder.notices.size(); ++i) {
    EXPECT_EQ(recorder.notices[i].nEvent, 3) << i;
    EXPECT_GE(recorder.notices[i].nDownloaded, last) << i;
    EXPECT_EQ(recorder.notices[i].nTotalSize, body.size()) << i;
    last = recorder.notices[i].nDownloaded;
  }
  EXPECT_EQ(last, body.size());
}

TEST(DownloadResume, RetriesAndStopsBetweenAttempts) {
  const std::string body = Body(50000);
  const std::size_t n = 20000;
  const std::string cut = OkHead(body.size(), kEtag) + body.substr(0, n);
  // A transient failure of the resumed request is retried by the mode,
  // and the retry still asks for the rest.
  for (std::int32_t mode : {0, 1}) {
    Responder server({cut, kBusy, Partial(body, n, body.size())});
    TempDir dir;
    Download d;
    d.session.m_nRetryMode = mode;
    d.session.m_nMaxRetries = 1;
    ASSERT_EQ(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()), mode == 0 ? HD_FAILED : HD_OK);
    if (mode == 0) {
      EXPECT_EQ(server.connections(), 2);
      continue;
    }
    EXPECT_TRUE(ReadFile(dir / "f") == body);
    EXPECT_EQ(Field(server.Request(2), "Range"), "bytes=20000-");
  }
  // A stop that comes while the next attempt connects ends the call there.
  TempDir dir;
  Download d;
  ScriptedServer server([&](loopback::PeerSocket fd, int index) {
    loopback::ReadRequestHeader(fd);
    if (index == 0) {
      loopback::SendAll(fd, cut);
      return;
    }
    d.session.m_bStop = TRUE;
    loopback::SendAll(fd, Partial(body, n, body.size()));
  });
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/f";
  EXPECT_EQ(d.session.DownloadFile(url.c_str(), (dir / "f").c_str()), HD_STOPPED);
  EXPECT_FALSE(Exists(dir / "f"));
  EXPECT_TRUE(ReadFile(dir / "f.down") == body.substr(0, n));
}
