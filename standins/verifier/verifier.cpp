// A console program that accepts exactly
//   powershell -NoProfile -Command "if ((Get-FileHash -Algorithm SHA256 -LiteralPath '<path>').Hash
//   -ne '<digest>') { exit 1 }"
// (or -Path; quote characters inside the path doubled, as PowerShell reads single-quoted text),
// hashes the file with its own SHA-256 and exits 0 when the digest matches without
// regard to case, 1 otherwise, like the real command. Any other command line is a
// parse error: exit 1. Each call is appended to verifier-calls.log beside the program.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

namespace {

const uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void Block(uint32_t h[8], const unsigned char* p) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (uint32_t(p[4 * i]) << 24) | (uint32_t(p[4 * i + 1]) << 16) |
               (uint32_t(p[4 * i + 2]) << 8) | p[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 =
            k + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        k = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
}

// Upper-case hex like Get-FileHash; empty when the file cannot be read.
std::wstring FileHash(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return std::wstring();
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::vector<unsigned char> buf(1 << 16);
    uint64_t total = 0;
    size_t fill = 0, n;
    while ((n = fread(buf.data() + fill, 1, buf.size() - fill, f)) > 0) {
        fill += n;
        total += n;
        size_t whole = fill - fill % 64;
        for (size_t i = 0; i < whole; i += 64)
            Block(h, buf.data() + i);
        std::copy(buf.begin() + whole, buf.begin() + fill, buf.begin());
        fill -= whole;
    }
    fclose(f);
    unsigned char tail[128] = {};
    std::copy(buf.begin(), buf.begin() + fill, tail);
    tail[fill] = 0x80;
    size_t len = fill < 56 ? 64 : 128;
    uint64_t bits = total * 8;
    for (int i = 0; i < 8; ++i)
        tail[len - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    for (size_t i = 0; i < len; i += 64)
        Block(h, tail + i);
    static const wchar_t hex[] = L"0123456789ABCDEF";
    std::wstring out;
    for (uint32_t v : h)
        for (int s = 28; s >= 0; s -= 4)
            out += hex[(v >> s) & 15];
    return out;
}

bool IsQuote(wchar_t c) {
    return c == L'\'' || (c >= 0x2018 && c <= 0x201B);
}

// Reads a single-quoted literal whose opening quote was already consumed; `at` ends
// just after the closing quote. False when it never closes.
bool ReadQuoted(const std::wstring& text, size_t& at, std::wstring& out) {
    while (at < text.size()) {
        wchar_t c = text[at++];
        if (!IsQuote(c)) {
            out += c;
        } else if (at < text.size() && IsQuote(text[at])) {
            out += c;
            ++at;
        } else {
            return true;
        }
    }
    return false;
}

bool Expect(const std::wstring& text, size_t& at, const wchar_t* literal) {
    std::wstring want(literal);
    if (text.compare(at, want.size(), want) != 0)
        return false;
    at += want.size();
    return true;
}

// -LiteralPath takes the path as it stands; -Path reads [ ] * ? as a wildcard pattern,
// which a name holding them does not match, so PowerShell finds no such file.
bool ParseCommand(const std::wstring& cmd, std::wstring& path, std::wstring& digest) {
    size_t at = 0;
    if (!Expect(cmd, at, L"if ((Get-FileHash -Algorithm SHA256 -"))
        return false;
    bool literal = Expect(cmd, at, L"LiteralPath '");
    if (!literal && !Expect(cmd, at, L"Path '"))
        return false;
    bool parsed = ReadQuoted(cmd, at, path) && Expect(cmd, at, L").Hash -ne '") &&
                  ReadQuoted(cmd, at, digest) && Expect(cmd, at, L") { exit 1 }") &&
                  at == cmd.size();
    return parsed && (literal || path.find_first_of(L"[]*?") == std::wstring::npos);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i]))
            return false;
    return true;
}

void LogCall(const wchar_t* commandLine, int code) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring log(self);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"verifier-calls.log";
    FILE* f = _wfopen(log.c_str(), L"ab");
    if (!f)
        return;
    int n = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? n - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, &utf8[0], n, nullptr, nullptr);
    fprintf(f, "exit=%d %s\n", code, utf8.c_str());
    fclose(f);
}

int Run(int argc, wchar_t** argv) {
    std::wstring path, digest;
    if (argc != 4 || std::wstring(argv[1]) != L"-NoProfile" ||
        std::wstring(argv[2]) != L"-Command" || !ParseCommand(argv[3], path, digest))
        return 1;
    std::wstring actual = FileHash(path);
    return !actual.empty() && SameText(actual, digest) ? 0 : 1;
}

} // namespace

int wmain() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int code = argv ? Run(argc, argv) : 1;
    LogCall(GetCommandLineW(), code);
    return code;
}
