#pragma once

// Checks extraction, loader, environment, controller and navigation in a hidden
// window; returns the process exit code.
int RunSmokeTest();
