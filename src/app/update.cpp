#include "app/update.h"

// The update check is not built yet: the thread ends at once, and start-up
// goes on as when no update is due.
void UpdateThreadProc(void* /*arg*/) {}
