#include "ota/verify.h"

#include "base/paths.h"
#include "ota/processes.h"
#include "ota/sha256.h"

#include <windows.h>

#include <vector>

namespace {

bool IsSingleQuote(wchar_t c) {
    return c == L'\'' || (c >= 0x2018 && c <= 0x201B);
}

std::wstring QuoteForPowerShell(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        out += c;
        if (IsSingleQuote(c))
            out += c;
    }
    return out;
}

} // namespace

std::wstring PowerShellPath() {
    std::wstring system = SystemFolder();
    return system.empty() ? system : JoinPath(system, L"WindowsPowerShell\\v1.0\\powershell.exe");
}

std::wstring VerifierCommandLine(const std::wstring& powershell, const std::wstring& path,
                                 const std::wstring& sha256) {
    return L"\"" + powershell +
           L"\" -NoProfile -Command \"if ((Get-FileHash -Algorithm SHA256 -LiteralPath '" +
           QuoteForPowerShell(path) + L"').Hash -ne '" + sha256 + L"') { exit 1 }\"";
}

DigestCheck VerifyDigest(const std::wstring& path, const std::wstring& sha256) {
    if (!IsSha256Hex(sha256))
        return DigestCheck::Mismatched;

    std::wstring powershell = PowerShellPath();
    std::wstring line = VerifierCommandLine(powershell, path, sha256);
    std::vector<wchar_t> writable(line.begin(), line.end());
    writable.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (powershell.empty() ||
        !CreateProcessW(powershell.c_str(), writable.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        std::wstring actual = Sha256OfFile(path);
        return !actual.empty() && SameDigest(actual, sha256) ? DigestCheck::Matched
                                                             : DigestCheck::Mismatched;
    }
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0 ? DigestCheck::Matched : DigestCheck::Mismatched;
}
