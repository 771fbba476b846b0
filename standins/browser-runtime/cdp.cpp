#include "cdp.h"

#include <thread>

namespace {

constexpr UINT WM_RUN_WORK = WM_APP + 0x71;
const wchar_t UiWindowClass[] = L"OvraStandinBrowserUi";

LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_RUN_WORK) {
        auto* work = reinterpret_cast<std::function<void()>*>(lParam);
        (*work)();
        delete work;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

HWND CreateUiWindow() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = UiWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = UiWindowClass;
    RegisterClassExW(&wc); // a second registration fails harmlessly
    return CreateWindowExW(0, UiWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
}

namespace {

// Appends one line to the file a variable names; nothing when it names none.
void AppendLine(const std::wstring& file, const std::string& line) {
    if (file.empty())
        return;
    HANDLE f = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\n";
    DWORD written;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

std::wstring FileNamedBy(const wchar_t* variable) {
    wchar_t path[1024];
    DWORD n = GetEnvironmentVariableW(variable, path, 1024);
    return n && n < 1024 ? std::wstring(path, n) : std::wstring();
}

} // namespace

void TraceProtocol(const std::string& line) {
    static std::wstring file = FileNamedBy(L"OVRA_STANDIN_LOG");
    AppendLine(file, std::to_string(GetTickCount64() % 1000000) + " " + line.substr(0, 600));
}

void RecordHostCall(const std::string& line) {
    static std::wstring file = FileNamedBy(L"OVRA_STANDIN_RECORD");
    AppendLine(file, line);
}

void PostToUi(HWND window, std::function<void()> work) {
    auto* owned = new std::function<void()>(std::move(work));
    if (!PostMessageW(window, WM_RUN_WORK, 0, reinterpret_cast<LPARAM>(owned)))
        delete owned;
}

void CdpConnection::Send(const std::string& method, const std::string& params,
                         const std::string& session, Reply reply) {
    int id = nextId++;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + JsonQuote(method) +
                          ",\"params\":" + (params.empty() ? "{}" : params);
    if (!session.empty())
        message += ",\"sessionId\":" + JsonQuote(session);
    message += "}";
    TraceProtocol("> " + message);
    if (open && WsSendText(ws, message)) {
        if (reply)
            pending[id] = std::move(reply);
        return;
    }
    // A command that cannot go out still gets its answer, later, like any other reply.
    if (reply)
        PostToUi(ui, [reply] { reply(nullptr, "connection closed"); });
}

void CdpConnection::StartReading(HANDLE ended) {
    open = true;
    std::shared_ptr<CdpConnection> self = shared_from_this();
    std::thread([self, ended] {
        std::string message;
        while (WsReceive(self->ws, message)) {
            PostToUi(self->ui, [self, message] { self->Deliver(message); });
        }
        SetEvent(ended);
        PostToUi(self->ui, [self] { self->Disconnected(); });
    }).detach();
}

void CdpConnection::Close() {
    open = false;
    WsClose(ws);
}

void CdpConnection::Deliver(const std::string& message) {
    TraceProtocol("< " + message);
    JsonValue value;
    if (!ParseJson(message, value))
        return;
    if (const JsonValue* id = value.Find("id")) {
        auto it = pending.find(static_cast<int>(id->number));
        if (it == pending.end())
            return;
        Reply reply = std::move(it->second);
        pending.erase(it);
        const JsonValue* error = value.Find("error");
        if (error)
            reply(nullptr, error->Str("message").empty() ? "error" : error->Str("message"));
        else
            reply(value.Find("result"), std::string());
        return;
    }
    auto it = listeners.find(value.Str("sessionId"));
    if (it == listeners.end())
        return;
    Listener listener = it->second; // it may unregister itself while running
    static const JsonValue none;
    const JsonValue* params = value.Find("params");
    listener(value.Str("method"), params ? *params : none);
}

void CdpConnection::Disconnected() {
    open = false;
    std::map<int, Reply> waiting;
    waiting.swap(pending);
    for (auto& entry : waiting)
        entry.second(nullptr, "connection closed");
    if (lost)
        lost();
}
