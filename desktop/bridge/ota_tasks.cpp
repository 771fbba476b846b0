#include "bridge/ota_tasks.h"

// Not built yet: no start-up check.
void StartupOtaTask() {}
