// A WebSocket client over a blocking loopback TCP socket, enough for the DevTools
// protocol: text messages, masked client frames, fragmented and large server frames.
#pragma once

#include <winsock2.h>

#include <mutex>
#include <string>

struct WebSocket {
    SOCKET socket = INVALID_SOCKET;
    std::mutex sendLock; // the reader thread answers pings while the UI thread sends
};

// Connects to ws://127.0.0.1:port + path and completes the opening handshake.
bool WsConnect(WebSocket& ws, int port, const std::string& path);

// Sends one text message as a single masked frame.
bool WsSendText(WebSocket& ws, const std::string& text);

// Blocks for the next complete text or binary message. False once the connection is
// closed or broken.
bool WsReceive(WebSocket& ws, std::string& message);

// Ends the connection; a blocked WsReceive then returns false.
void WsClose(WebSocket& ws);

// Plain TCP connection to 127.0.0.1:port, or INVALID_SOCKET.
SOCKET ConnectLoopback(int port);
