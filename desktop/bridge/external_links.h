// Links the user's own browser or mail program opens for us. What reaches the shell is
// passed on to whatever handler the user has registered, often as a quoted command-line
// argument: only well-formed web and mail addresses go, with nothing that could end the
// quotes or be read by a command interpreter.
#pragma once

#include <string>

// An http or https URL with a host, or a mailto address list, that parses; at most 2,048
// characters, without spaces, quotes, angle brackets, control characters or other
// characters an address never holds unescaped.
bool IsOpenableUrl(const std::wstring& url);

// Hands `url` to the shell when IsOpenableUrl allows it, on a thread of its own: the
// handler may take its time to start, or ask the user which program to use. Anything
// else is dropped without a word.
void OpenExternal(const std::wstring& url);

// What OpenExternal hands a checked link to, on its own thread: the shell's "open".
// Tests put a recorder here.
extern void (*OpenLinkWithShell)(const std::wstring& url);
