// The host's answers to page requests.
#pragma once

#include <string>

// The "hostInfo" payload: version, the AI service base the page should use, product
// name and the running executable's path.
std::wstring HostInfoPayload();

// Only web and mail links may be handed to the shell; anything else could start a local
// program or open a document.
bool IsOpenableUrl(const std::wstring& url);

// Hands `url` to the user's own browser (or mail program) when IsOpenableUrl allows it.
void OpenExternal(const std::wstring& url);

// Carries out one request given as the JSON text of an object.
void DispatchBridgeMessage(const std::wstring& message);
