#include "browser/bootstrap.h"

// Not built yet: the window keeps its start-up screen.
bool StartBrowser() {
    return true;
}
