// The update check, run on its own thread during start-up.
#pragma once

// arg is the application object's m_update; it is not read.
void UpdateThreadProc(void* arg);
