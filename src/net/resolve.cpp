#include "net/resolve.h"

#include "platform/socket.h"
#include "platform/thread.h"

static_assert(INADDR_NONE == platform::kAddressNone);

void ResolveThreadProc(void* pRequest) {
  ResolveRequest* request = static_cast<ResolveRequest*>(pRequest);
  request->nAddress = platform::LookupAddressV4(request->pszHost);
}

std::uint32_t ResolveHost(const char* pszHost, BOOL bResolveInThread) {
  if (pszHost == nullptr) return INADDR_NONE;
  const std::uint32_t dotted = platform::ParseAddressV4(pszHost);
  if (dotted != INADDR_NONE) return dotted;
  if (bResolveInThread) {
    ResolveRequest request{pszHost, INADDR_NONE};
    platform::Thread thread;
    if (thread.Start(&ResolveThreadProc, &request)) {
      thread.Join();
      return request.nAddress;
    }
  }
  return platform::LookupAddressV4(pszHost);
}
