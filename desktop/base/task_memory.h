// Strings handed across COM interfaces, which the receiver frees with CoTaskMemFree.
#pragma once

#include <windows.h>

#include <string>

// Copies `text` into task memory at `*out`. E_POINTER for a null `out`, E_OUTOFMEMORY
// (with `*out` null) when no memory was left.
HRESULT CopyToTaskMemory(const std::wstring& text, LPWSTR* out);

// The text of a task-memory string, which is freed; empty for null.
std::wstring TakeTaskString(LPWSTR text);
