#include "websocket.h"

#include <windows.h>
#include <bcrypt.h>
#include <ws2tcpip.h>

#include <cstring>
#include <vector>

namespace {

const char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const unsigned char* data, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; i += 3) {
        unsigned v = data[i] << 16;
        if (i + 1 < n)
            v |= data[i + 1] << 8;
        if (i + 2 < n)
            v |= data[i + 2];
        out += Base64Alphabet[(v >> 18) & 63];
        out += Base64Alphabet[(v >> 12) & 63];
        out += i + 1 < n ? Base64Alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < n ? Base64Alphabet[v & 63] : '=';
    }
    return out;
}

bool Sha1(const std::string& text, unsigned char digest[20]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0) == 0 &&
              BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
              BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())),
                             static_cast<ULONG>(text.size()), 0) == 0 &&
              BCryptFinishHash(hash, digest, 20, 0) == 0;
    if (hash)
        BCryptDestroyHash(hash);
    if (algorithm)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

bool SendAll(SOCKET s, const char* data, size_t n) {
    while (n > 0) {
        int sent = send(s, data, static_cast<int>(n), 0);
        if (sent <= 0)
            return false;
        data += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

bool RecvAll(SOCKET s, char* data, size_t n) {
    while (n > 0) {
        int got = recv(s, data, static_cast<int>(n), 0);
        if (got <= 0)
            return false;
        data += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool SendFrame(WebSocket& ws, unsigned char opcode, const std::string& payload) {
    std::vector<unsigned char> frame;
    frame.push_back(0x80 | opcode);
    size_t n = payload.size();
    if (n < 126) {
        frame.push_back(0x80 | static_cast<unsigned char>(n));
    } else if (n < 65536) {
        frame.push_back(0x80 | 126);
        frame.push_back(static_cast<unsigned char>(n >> 8));
        frame.push_back(static_cast<unsigned char>(n));
    } else {
        frame.push_back(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.push_back(
                static_cast<unsigned char>(static_cast<unsigned long long>(n) >> shift));
    }
    unsigned char mask[4];
    BCryptGenRandom(nullptr, mask, sizeof mask, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    frame.insert(frame.end(), mask, mask + 4);
    for (size_t i = 0; i < n; ++i)
        frame.push_back(static_cast<unsigned char>(payload[i]) ^ mask[i % 4]);
    std::lock_guard<std::mutex> hold(ws.sendLock);
    return SendAll(ws.socket, reinterpret_cast<const char*>(frame.data()), frame.size());
}

} // namespace

SOCKET ConnectLoopback(int port) {
    SOCKET s =
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return s;
}

bool WsConnect(WebSocket& ws, int port, const std::string& path) {
    ws.socket = ConnectLoopback(port);
    if (ws.socket == INVALID_SOCKET)
        return false;
    unsigned char nonce[16];
    BCryptGenRandom(nullptr, nonce, sizeof nonce, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    std::string key = Base64(nonce, sizeof nonce);
    std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + key +
        "\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!SendAll(ws.socket, request.data(), request.size()))
        return false;

    // Read the response head byte by byte: frames may follow it directly.
    std::string head;
    char c;
    while (head.size() < 8192 && head.find("\r\n\r\n") == std::string::npos) {
        if (!RecvAll(ws.socket, &c, 1))
            return false;
        head += c;
    }
    if (head.compare(0, 12, "HTTP/1.1 101") != 0)
        return false;
    unsigned char digest[20];
    if (!Sha1(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", digest))
        return false;
    std::string accept = Base64(digest, sizeof digest);
    std::string lower = head;
    for (char& ch : lower)
        ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    size_t at = lower.find("sec-websocket-accept:");
    if (at == std::string::npos)
        return false;
    size_t value = head.find_first_not_of(' ', at + 21);
    return value != std::string::npos && head.compare(value, accept.size(), accept) == 0;
}

bool WsSendText(WebSocket& ws, const std::string& text) {
    return SendFrame(ws, 0x1, text);
}

bool WsReceive(WebSocket& ws, std::string& message) {
    message.clear();
    for (;;) {
        unsigned char h[2];
        if (!RecvAll(ws.socket, reinterpret_cast<char*>(h), 2))
            return false;
        bool fin = (h[0] & 0x80) != 0;
        unsigned opcode = h[0] & 0x0F;
        unsigned long long n = h[1] & 0x7F;
        if (n == 126 || n == 127) {
            unsigned char ext[8];
            int bytes = n == 126 ? 2 : 8;
            if (!RecvAll(ws.socket, reinterpret_cast<char*>(ext), bytes))
                return false;
            n = 0;
            for (int i = 0; i < bytes; ++i)
                n = (n << 8) | ext[i];
        }
        if (n > (1ull << 31))
            return false;
        unsigned char mask[4] = {0, 0, 0, 0};
        bool masked = (h[1] & 0x80) != 0;
        if (masked && !RecvAll(ws.socket, reinterpret_cast<char*>(mask), 4))
            return false;
        std::string payload(static_cast<size_t>(n), '\0');
        if (n && !RecvAll(ws.socket, &payload[0], payload.size()))
            return false;
        if (masked)
            for (size_t i = 0; i < payload.size(); ++i)
                payload[i] = static_cast<char>(payload[i] ^ mask[i % 4]);

        if (opcode == 0x8) { // close: answer it and report the end
            SendFrame(ws, 0x8, payload.substr(0, 2));
            return false;
        }
        if (opcode == 0x9) {
            SendFrame(ws, 0xA, payload);
            continue;
        }
        if (opcode == 0xA)
            continue;
        message += payload; // text, binary or continuation
        if (fin)
            return true;
    }
}

void WsClose(WebSocket& ws) {
    if (ws.socket == INVALID_SOCKET)
        return;
    shutdown(ws.socket, SD_BOTH);
    closesocket(ws.socket);
    ws.socket = INVALID_SOCKET;
}
