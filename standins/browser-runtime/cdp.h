// One DevTools protocol connection to the browser. A reader thread receives messages
// and hands each to the thread that created the connection, through a hidden
// message-only window; replies and events are handled there, never on the reader thread.
#pragma once

#include "json.h"
#include "websocket.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Runs `work` later on the thread that owns `window` (a window from CreateUiWindow).
// Dropped, and freed, when the window is gone.
void PostToUi(HWND window, std::function<void()> work);

// A message-only window on the calling thread that runs what PostToUi sends it.
HWND CreateUiWindow();

// Protocol traffic goes to this file when OVRA_STANDIN_LOG names one.
void TraceProtocol(const std::string& line);

// What the host told a controller goes to this file, one line each, when
// OVRA_STANDIN_RECORD names one: "bounds l t r b", "visible 0|1", "focus <reason>",
// "moved <x> <y>" (the client area's screen origin), "background AARRGGBB", "drop 0|1",
// "close"; and what it was told in return: "navigation <url>", "failed <kind>".
void RecordHostCall(const std::string& line);

struct CdpConnection : std::enable_shared_from_this<CdpConnection> {
    using Reply = std::function<void(const JsonValue* result, const std::string& error)>;
    using Listener = std::function<void(const std::string& method, const JsonValue& params)>;

    WebSocket ws;
    HWND ui = nullptr;
    int nextId = 1;
    bool open = false;
    std::map<int, Reply> pending;
    // Events by session id; the empty id holds the browser's own events.
    std::map<std::string, Listener> listeners;
    // Runs on the UI thread once the connection has ended, whoever ended it.
    std::function<void()> lost;

    // Sends a command; `params` is JSON object text. The reply runs on the UI thread.
    void Send(const std::string& method, const std::string& params, const std::string& session,
              Reply reply = Reply());
    // Starts the reader thread; it sets `ended` when the connection ends. Call once,
    // after the handshake.
    void StartReading(HANDLE ended);
    void Close();

  private:
    void Deliver(const std::string& message);
    void Disconnected();
};
