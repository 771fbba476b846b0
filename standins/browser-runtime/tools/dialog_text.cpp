// Prints the text of every message box titled argv[1], one UTF-8 line each, so tests
// can check what the user was told. Exit code 1 when there is none.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Search {
    const wchar_t* title;
    int found = 0;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t cls[64], title[256];
    GetClassNameW(window, cls, 64);
    GetWindowTextW(window, title, 256);
    if (std::wstring(cls) != L"#32770" || std::wstring(title) != search->title)
        return TRUE;
    // A message box shows its text in the static control with the id 0xFFFF.
    wchar_t text[2048] = {};
    GetDlgItemTextW(window, 0xFFFF, text, 2048);
    char utf8[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (n > 0) {
        std::string line(utf8);
        for (char& c : line)
            if (c == '\n')
                c = '|';
        std::printf("%s\n", line.c_str());
    }
    ++search->found;
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    Search search{argv[1]};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found ? 0 : 1;
}
