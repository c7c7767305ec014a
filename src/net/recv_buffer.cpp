#include "net/recv_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "net/secure.h"

RecvBuffer* RecvBufferCreate(SOCKET s) {
  if (s == INVALID_SOCKET) return nullptr;
  RecvBuffer* p = new (std::nothrow) RecvBuffer{};
  if (p == nullptr) return nullptr;
  p->pData = new (std::nothrow) char[RECV_BUFFER_SIZE]();
  if (p->pData == nullptr) {
    delete p;
    return nullptr;
  }
  p->hSocket = s;
  p->nCapacity = RECV_BUFFER_SIZE;
  return p;
}

void RecvBufferFree(RecvBuffer* p) {
  if (p == nullptr) return;
  delete[] p->pData;
  delete p;
}

std::int32_t RecvBufferFill(RecvBuffer* p, std::int32_t nTimeoutMs) {
  if (p == nullptr) return -1;
  const std::int32_t space = p->nCapacity - p->nCount;
  if (space <= 0) return 0;
  // The free space runs from nWritePos to the end of the block, then on from 0.
  const std::int32_t first = std::min(space, p->nCapacity - p->nWritePos);
  const std::int32_t n =
      p->pSecure != nullptr
          ? p->pSecure->Receive(p->pData + p->nWritePos, first, nTimeoutMs)
          : SockRecvSegments(p->hSocket, p->pData + p->nWritePos, first, p->pData, space - first, nTimeoutMs);
  if (n > 0) {
    p->nWritePos = (p->nWritePos + n) % p->nCapacity;
    p->nCount += n;
  }
  return n;
}

static unsigned char TakeByte(RecvBuffer* p) {
  const unsigned char b = static_cast<unsigned char>(p->pData[p->nReadPos]);
  p->nReadPos = (p->nReadPos + 1) % p->nCapacity;
  --p->nCount;
  return b;
}

// True when the ring holds a byte, after one fill if it was empty.
static bool HasByte(RecvBuffer* p, std::int32_t nTimeoutMs) {
  return p->nCount > 0 || RecvBufferFill(p, nTimeoutMs) > 0;
}

std::int32_t RecvBufferReadByte(RecvBuffer* p, std::int32_t nTimeoutMs) {
  if (p == nullptr || !HasByte(p, nTimeoutMs)) return RECV_NO_BYTE;
  return TakeByte(p);
}

std::int32_t RecvBufferReadLine(RecvBuffer* p, char* pszLine, std::int32_t& nState,
                                std::int32_t nTimeoutMs) {
  constexpr std::int32_t kMaxLine = RECV_LINE_SIZE - 1;
  nState = 1;
  unsigned char previous = 0;
  std::int32_t i = 0;
  while (i < kMaxLine) {
    if (p == nullptr || !HasByte(p, nTimeoutMs)) {
      nState = -1;
      return -1;
    }
    const unsigned char b = TakeByte(p);
    if (b == '\n') {
      nState = 0;
      if (previous == '\r') --i;
      pszLine[i] = '\0';
      return 0;
    }
    pszLine[i++] = static_cast<char>(b);
    previous = b;
  }
  pszLine[kMaxLine] = '\0';
  return 0;
}

std::int32_t RecvBufferReadBlock(RecvBuffer* p, char* pBlock, std::int32_t nTimeoutMs) {
  if (p == nullptr) return 0;
  if (p->nCount == 0) {
    // Through an empty ring the bytes would only be copied once more: they
    // go straight into the block, as many as one fill would take.
    const std::int32_t size = std::min(p->nCapacity, RECV_BUFFER_SIZE);
    const std::int32_t n = p->pSecure != nullptr ? p->pSecure->Receive(pBlock, size, nTimeoutMs)
                                                 : SockRecv(p->hSocket, pBlock, size, nTimeoutMs);
    return n > 0 ? n : 0;
  }
  const std::int32_t m = std::min(p->nCount, RECV_BUFFER_SIZE);
  const std::int32_t first = std::min(m, p->nCapacity - p->nReadPos);
  std::memcpy(pBlock, p->pData + p->nReadPos, static_cast<std::size_t>(first));
  std::memcpy(pBlock + first, p->pData, static_cast<std::size_t>(m - first));
  p->nReadPos = (p->nReadPos + m) % p->nCapacity;
  p->nCount -= m;
  return m;
}
