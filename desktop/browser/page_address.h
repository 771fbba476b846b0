// Whether an address the browser reports names our page. The browser reports file
// addresses in its own canonical spelling, not in the one we navigated with: the drive
// letter in upper case, a share `\\server\share\...` as file://server/share/..., more
// characters escaped. Both sides are brought to one form before they are compared.
#pragma once

#include <string>

// Whether `address` names the document at `page`. Escapes are compared decoded, the
// drive letter and a share's server name without regard to case, and a fragment is
// ignored: it moves within the same document. A query makes it another document.
bool IsPageSource(const std::wstring& address, const std::wstring& page);

// Whether `address` is our page, or only the origin it belongs to (file:/// for a local
// page, file://server/ for one on a share): the browser may name a requester by origin.
bool IsPageOrigin(const std::wstring& address, const std::wstring& page);
