// Finding the browser runtime to use: a folder F that holds the runtime's client
// library F\EBWebView\x64\EmbeddedBrowserWebView.dll.
#pragma once

#include <string>
#include <vector>

// What the runtime's client library is told about where its runtime came from.
enum class RuntimeKind { Installed = 0, Configured = 1 };

struct Runtime {
    std::wstring folder;
    RuntimeKind kind = RuntimeKind::Installed;
    // For an installed runtime, the version it is reported with: the name of its
    // folder, followed by the channel's name for a channel other than the stable one
    // ("121.0.2277.4 beta"). Empty for a configured folder, whose client library tells.
    std::wstring version;
};

// Path of the client library inside a runtime folder (whether or not it exists).
std::wstring ClientLibraryPath(const std::wstring& runtimeFolder);

// The runtime to use; false when there is none. A folder that is configured
// (environment, policy, or `explicitFolder`, in that order) is final: when it holds no
// runtime there is none, we do not quietly run a different one. Otherwise the
// registered installs are searched channel by channel in the preferred order, in each
// the machine's registration before the user's, both as a 32-bit program sees them. A
// registration counts when its folder is named by a supported version and holds the
// client library.
bool FindRuntime(const wchar_t* explicitFolder, Runtime& found);

// Whether a dotted version is at least the first runtime release that can host us,
// "86.0.616.0". Missing parts count as 0, a part that is no number as 0.
bool IsSupportedVersion(const std::wstring& version);

// The release channels allowed by a list such as "0,2" (0 stable ... 4 internal), in
// the order they are searched: from the most to the least stable, or the other way
// round when `leastStableFirst`. Each item is read as a number and anything that is no
// channel's number counts as the stable channel; empty items are skipped, and a list
// without items allows every channel.
std::vector<int> ChannelOrder(const std::wstring& list, bool leastStableFirst);
