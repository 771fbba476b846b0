#pragma once

// Starts creating the browser inside MainWindow. False when creation could not start
// (the user has been told); the rest completes on the message loop.
bool StartBrowser();
