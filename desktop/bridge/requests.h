// The host's answers to page requests.
#pragma once

#include <string>

// The "hostInfo" payload: version, the AI service base the page should use, product
// name and the running executable's path.
std::wstring HostInfoPayload();

// Carries out one request given as the JSON text of an object.
void DispatchBridgeMessage(const std::wstring& message);
