#pragma once

// Background update tasks; each runs on its own detached thread.
void StartupOtaTask();
