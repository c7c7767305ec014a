#include "http/session.h"

#include "net/recv_buffer.h"
#include "net/secure.h"
#include "platform/text.h"

CHttpDownload::CHttpDownload() = default;

CHttpDownload::~CHttpDownload() { CloseConnection(); }

void CHttpDownload::SetTempSuffix(int nSeed) { m_strTempSuffix = platform::Format(".down%d", nSeed); }

BOOL CHttpDownload::OpenConnection() {
  CloseConnection();
  m_hSocket = SockCreate();
  if (m_hSocket == INVALID_SOCKET) return FALSE;
  // Without a buffer the new socket stays until the next open or close.
  m_pRecvBuffer = RecvBufferCreate(m_hSocket);
  return m_pRecvBuffer != nullptr ? TRUE : FALSE;
}

// TLS first, then the buffer, then the socket, closed at once: nothing more is wanted from
// the peer, so no graceful shutdown.
void CHttpDownload::CloseConnection() {
  delete m_pSecure;
  m_pSecure = nullptr;
  if (m_pRecvBuffer != nullptr) {
    RecvBufferFree(m_pRecvBuffer);
    m_pRecvBuffer = nullptr;
  }
  if (m_hSocket != INVALID_SOCKET) {
    SockClose(m_hSocket, TRUE);
    m_hSocket = INVALID_SOCKET;
  }
}
