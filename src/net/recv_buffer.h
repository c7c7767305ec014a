// The receive ring of one connection and its byte, line and block readers.
// All three take from the same ring, so what arrived together with a
// header is handed out before anything more is received.
#pragma once

#include <cstdint>

#include "net/sock.h"

class SecureChannel;

constexpr std::int32_t RECV_BUFFER_SIZE = 10240;
// Line buffers hold at least this much: 1023 bytes and the terminator.
constexpr std::int32_t RECV_LINE_SIZE = 1024;
// What the byte reader returns when no byte came.
constexpr std::int32_t RECV_NO_BYTE = 256;

// Always nWritePos == (nReadPos + nCount) % nCapacity.
struct RecvBuffer {
  SOCKET hSocket;  // not owned
  // Not owned: when set, the ring holds the bytes it decrypts from hSocket.
  SecureChannel* pSecure;
  std::int32_t nCapacity;
  char* pData;  // owned, nCapacity bytes
  std::int32_t nCount;
  std::int32_t nReadPos;
  std::int32_t nWritePos;
};

// Null for INVALID_SOCKET or without memory.
RecvBuffer* RecvBufferCreate(SOCKET s);
// Data block first, then the record; null is fine.
void RecvBufferFree(RecvBuffer* p);

// One receive into the free space: bytes added, or what the receive
// returned (0 or -1). A full ring receives nothing and gives 0.
std::int32_t RecvBufferFill(RecvBuffer* p, std::int32_t nTimeoutMs);
// 0 to 255, or RECV_NO_BYTE.
std::int32_t RecvBufferReadByte(RecvBuffer* p, std::int32_t nTimeoutMs);
// Stores a zero-terminated line without its line feed (and a carriage
// return before it) and returns 0 with nState 0; a long line comes in
// pieces of 1023 bytes with nState 1. When the data runs out first: -1,
// nState -1, and the bytes of the unfinished line are gone.
std::int32_t RecvBufferReadLine(RecvBuffer* p, char* pszLine, std::int32_t& nState,
                                std::int32_t nTimeoutMs);
// pBlock holds RECV_BUFFER_SIZE bytes. Hands out what the ring holds,
// receiving once only when it is empty; 0 when nothing came.
std::int32_t RecvBufferReadBlock(RecvBuffer* p, char* pBlock, std::int32_t nTimeoutMs);
