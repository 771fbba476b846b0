#include "base/globals.h"

const wchar_t* const AppVersion = OVRA_APP_VERSION;
