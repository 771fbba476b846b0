// Ending the program without leaving the browser's processes behind on its data folder:
// the next start (a restart by the user or by an update) can only create its browser
// once they have gone.
#pragma once

// Closes the browser as the window goes, first asking the runtime to say when its
// processes have ended, where it can.
void CloseBrowserForExit();

// Handles messages until the browser's processes have ended, for at most `ms`; returns
// at once when the runtime cannot tell.
void WaitForBrowserExit(unsigned long ms);
