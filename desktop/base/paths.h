#pragma once

#include <string>

// Joins with one backslash unless base is empty or already ends in a separator.
std::wstring JoinPath(const std::wstring& base, const std::wstring& relative);

// Full path of the running executable, however long it is.
std::wstring ModulePath();

// A module path for a program started from a share, as \\server\share\...: Windows may
// report it as \\?\UNC\server\share\..., Wine as UNC\server\share\... (which would
// read as a relative path). Any other path is returned as it is.
std::wstring ShareSpelledPath(const std::wstring& path);

// Sets ExePath and ExeDir from the running executable.
void SetExePaths();

// "file:///" URL of a local path with forward slashes. Spaces and non-ASCII stay as
// they are; only '%', '#' and '?' are percent-encoded since they would end the path.
std::wstring FileUrlFromPath(const std::wstring& path);
