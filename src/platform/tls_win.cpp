// Not built yet for Windows: every https transfer is refused, plainly.
#include "platform/tls.h"

namespace platform {

std::unique_ptr<TlsConnection> TlsConnect(TlsTransport&, const std::string&, const std::string&, TlsOutcome& outcome,
                                          std::string& why) {
  outcome = TlsOutcome::kRefused;
  why = "https is not available in this build";
  return nullptr;
}

bool TlsIsCertificateBundle(const std::string&) { return false; }

}  // namespace platform
