#include "base/task_memory.h"

#include <objbase.h>

#include <cstring>

HRESULT CopyToTaskMemory(const std::wstring& text, LPWSTR* out) {
    if (!out)
        return E_POINTER;
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*out)
        return E_OUTOFMEMORY;
    std::memcpy(*out, text.c_str(), bytes);
    return S_OK;
}

std::wstring TakeTaskString(LPWSTR text) {
    if (!text)
        return std::wstring();
    std::wstring copy(text);
    CoTaskMemFree(text);
    return copy;
}
