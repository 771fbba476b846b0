#include "base/globals.h"

const wchar_t* const WindowTitle = L"OVRA-Zirer";
const wchar_t* const WindowClassName = L"OVRAAgentWindow";
const wchar_t* const SingleInstanceMutexName = L"Local\\OVRA-Zirer-SingleInstance";

HWND MainWindow = nullptr;
std::wstring ExePath;
std::wstring ExeDir;
std::wstring StartUrl;
