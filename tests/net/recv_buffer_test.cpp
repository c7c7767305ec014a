#include "net/recv_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "loopback.h"

namespace {

// One step of a script: the peer writes or closes, or one reader is called
// and its result compared.
struct Step {
  enum Kind { kWrite, kClose, kDetach, kFill, kLine, kByte, kBlock } kind;
  std::string bytes;         // written, or expected from the reader
  std::int32_t result = 0;   // line: 0 or -1; byte: the value; fill and block: the count
  std::int32_t state = 0;    // line only
  std::int32_t timeoutMs = 2000;
};

Step Write(std::string bytes) { return {Step::kWrite, std::move(bytes)}; }
Step PeerCloses() { return {Step::kClose, ""}; }
// The socket is taken away: any further receive fails.
Step Detach() { return {Step::kDetach, ""}; }
Step Fill(std::int32_t n) { return {Step::kFill, "", n}; }
Step Line(std::string text, std::int32_t state) { return {Step::kLine, std::move(text), 0, state}; }
Step NoLine(std::int32_t timeoutMs = 2000) { return {Step::kLine, "", -1, -1, timeoutMs}; }
Step Byte(std::int32_t value, std::int32_t timeoutMs = 2000) { return {Step::kByte, "", value, 0, timeoutMs}; }
Step Block(std::string bytes) {
  const auto n = static_cast<std::int32_t>(bytes.size());
  return {Step::kBlock, std::move(bytes), n};
}
Step NoBlock(std::int32_t timeoutMs = 2000) { return {Step::kBlock, "", 0, 0, timeoutMs}; }

struct Script {
  const char* name;
  std::vector<Step> steps;
};

std::string Pattern(std::size_t size, char base = 'a') {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(base + (i * 5 + i / 26) % 26);
  return s;
}

void ExpectConsistent(const RecvBuffer* p) {
  EXPECT_EQ(p->nCapacity, RECV_BUFFER_SIZE);
  EXPECT_GE(p->nCount, 0);
  EXPECT_LE(p->nCount, p->nCapacity);
  EXPECT_GE(p->nReadPos, 0);
  EXPECT_LT(p->nReadPos, p->nCapacity);
  EXPECT_EQ(p->nWritePos, (p->nReadPos + p->nCount) % p->nCapacity);
}

void RunScript(const Script& script) {
  SCOPED_TRACE(script.name);
  loopback::Listener listener;
  loopback::Connection c = loopback::Connect(listener);
  RecvBuffer* p = RecvBufferCreate(c.ours);
  ASSERT_NE(p, nullptr);
  constexpr std::size_t kGuard = 64;
  std::vector<char> out(RECV_BUFFER_SIZE + kGuard);
  int index = 0;
  for (const Step& step : script.steps) {
    SCOPED_TRACE("step " + std::to_string(index++));
    std::fill(out.begin(), out.end(), '\x55');
    switch (step.kind) {
      case Step::kWrite:
        ASSERT_TRUE(loopback::SendAll(c.peer, step.bytes));
        continue;
      case Step::kClose:
        loopback::ClosePeer(c.peer);
        c.peer = loopback::kNoPeer;
        continue;
      case Step::kDetach:
        p->hSocket = INVALID_SOCKET;
        continue;
      case Step::kFill:
        EXPECT_EQ(RecvBufferFill(p, step.timeoutMs), step.result);
        break;
      case Step::kByte:
        EXPECT_EQ(RecvBufferReadByte(p, step.timeoutMs), step.result);
        break;
      case Step::kLine: {
        std::int32_t state = 99;
        EXPECT_EQ(RecvBufferReadLine(p, out.data(), state, step.timeoutMs), step.result);
        EXPECT_EQ(state, step.state);
        if (step.result == 0) {
          EXPECT_EQ(std::string(out.data(), strnlen(out.data(), RECV_LINE_SIZE)), step.bytes);
        }
        break;
      }
      case Step::kBlock: {
        const std::int32_t n = RecvBufferReadBlock(p, out.data(), step.timeoutMs);
        EXPECT_EQ(n, step.result);
        if (n == step.result) {
          EXPECT_TRUE(std::string(out.data(), n) == step.bytes);
        }
        EXPECT_EQ(std::string(out.end() - kGuard, out.end()), std::string(kGuard, '\x55'))
            << "wrote past the block";
        break;
      }
    }
    ExpectConsistent(p);
  }
  RecvBufferFree(p);
  loopback::CloseConnection(c);
}

}  // namespace

TEST(RecvBuffer, ReadersOverScriptedStreams) {
  const std::string long2500 = Pattern(2500);
  const std::string exact1023 = Pattern(1023);
  const std::string big = Pattern(15000);
  const std::string full = Pattern(RECV_BUFFER_SIZE + 100);
  const std::string first = Pattern(10000, 'A');
  const std::string second = Pattern(1000, 'a');
  const std::string almost = Pattern(10230);
  const Script scripts[] = {
      {"bare line feeds", {Write("abc\n\nlast\n"), Line("abc", 0), Line("", 0), Line("last", 0)}},
      {"carriage return without line feed stays",
       {Write("a\rb\nx\r\r\n\r\n"), Line("a\rb", 0), Line("x\r", 0), Line("", 0)}},
      {"a 2500-byte line comes in three pieces",
       {Write(long2500 + "\nnext\n"), Line(long2500.substr(0, 1023), 1), Line(long2500.substr(1023, 1023), 1),
        Line(long2500.substr(2046), 0), Line("next", 0)}},
      {"1023 bytes, then CRLF", {Write(exact1023 + "\r\n"), Line(exact1023, 1), Line("", 0)}},
      {"peer closes in the middle of a line",
       {Write("complete\npartial"), Line("complete", 0), PeerCloses(), NoLine(), Byte(RECV_NO_BYTE),
        NoBlock()}},
      {"header and body in one receive",
       {Write("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody"), Line("HTTP/1.1 200 OK", 0),
        Line("Content-Length: 4", 0), Line("", 0), Detach(), Block("body"), NoBlock(), NoLine()}},
      {"blocks never above the ring's size", {Write(big), Block(big.substr(0, 10240)), Block(big.substr(10240))}},
      {"a block hands out what the ring holds, though more is on its way",
       {Write("HEAD\nxy"), Line("HEAD", 0), Write("more"), Block("xy"), Block("more")}},
      {"a fill takes at most the free space; a full ring takes nothing",
       {Write(full), Fill(RECV_BUFFER_SIZE), Fill(0), Byte(static_cast<unsigned char>(full[0])),
        Block(full.substr(1, 10239)), Block(full.substr(10240))}},
      // A block from an empty ring passes it by: a byte read first makes the
      // bytes go through the ring and move its positions on.
      {"the fill and the block wrap around the ring's end",
       {Write(first), Byte(first[0]), Block(first.substr(1)), Write(second), Fill(1000), Block(second)}},
      {"a line wraps around the ring's end",
       {Write(almost), Byte(almost[0]), Block(almost.substr(1)), Write("hello world\r\ntail"),
        Line("hello world", 0), Block("tail")}},
      {"bytes, whole range, then none",
       {Write(std::string("\x00\xff\x7f", 3)), Byte(0), Byte(255), Byte(127), PeerCloses(), Byte(RECV_NO_BYTE)}},
      {"nothing within the limit, then data still readable",
       {NoLine(100), Byte(RECV_NO_BYTE, 100), NoBlock(100), Write("late\n"), Line("late", 0)}},
  };
  for (const Script& s : scripts) RunScript(s);
}

TEST(RecvBuffer, CreateAndFree) {
  EXPECT_EQ(RecvBufferCreate(INVALID_SOCKET), nullptr);
  RecvBufferFree(nullptr);

  RecvBuffer* p = RecvBufferCreate(42);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->hSocket, 42);
  EXPECT_EQ(p->nCapacity, RECV_BUFFER_SIZE);
  EXPECT_EQ(p->nCount, 0);
  EXPECT_EQ(p->nReadPos, 0);
  EXPECT_EQ(p->nWritePos, 0);
  ASSERT_NE(p->pData, nullptr);
  EXPECT_EQ(std::string(p->pData, RECV_BUFFER_SIZE), std::string(RECV_BUFFER_SIZE, '\0'));
  RecvBufferFree(p);
}
