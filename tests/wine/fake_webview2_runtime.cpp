// A stand-in for the WebView2 runtime's client library (EBWebView\x64\EmbeddedBrowserWebView.dll),
// found by the program's loader through WEBVIEW2_BROWSER_EXECUTABLE_FOLDER. It implements the
// objects the host uses; every creation completes later, from the thread's message queue.
//
// With QUELBY_FAKE_RUNTIME_REPORT naming a file, it drives the program as the runtime would: it
// checks what the host set up, sends resource requests and reads each answer to the end, starts a
// download, resizes the window and asks it to close. Each check writes "ok NAME" or
// "FAIL NAME: detail" to the file, and "done" once the close has been asked for.
//
// Without it, the double only answers and records: a test that drives the host itself, in the
// same process, reads the host's calls through quelby_fake_runtime_call. With
// QUELBY_FAKE_RUNTIME_SCRIPTS naming a folder, each document-start script is also written there
// (000.js, 001.js, ... in the order given), for a JavaScript engine to run them.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "com_object.h"
#include "quelby/assets/asset_table.h"
#include "quelby/assets/devtools_scheme.h"
#include "quelby/core/wide_text_win32.h"
#include "webview2_api.h"

namespace {

using namespace quelby;
using namespace quelby::webview_host;
using namespace quelby::webview_host::webview2;
// The tables themselves: the double is built against our own declarations.
using namespace quelby::webview_host::webview2::own;

// ---- the report ---------------------------------------------------------------------------------

std::wstring variable(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return {};
    }
    std::wstring value(needed, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), needed));
    return value;
}

void write_file(const std::wstring& path, const wchar_t* mode, const std::string& text) {
    FILE* file = _wfopen(path.c_str(), mode);
    if (file == nullptr) {
        return;
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

void report_line(const std::string& line) {
    const std::wstring path = variable(L"QUELBY_FAKE_RUNTIME_REPORT");
    if (path.empty()) {
        return;
    }
    write_file(path, L"ab", line + "\n");
}

void expect(bool condition, const std::string& name, const std::string& detail = {}) {
    report_line((condition ? "ok " : "FAIL ") + name + (condition ? "" : ": " + detail));
}

LPWSTR co_string(std::string_view text) {
    const std::wstring wide = utf8_to_wide(text);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
    std::memcpy(copy, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return copy;
}

// ---- what the host told the runtime -----------------------------------------------------------

struct RecordedResponse {
    int status = 0;
    std::string reason;
    std::string headers;
    IStream* content = nullptr;  // one reference
};

// One call of the host's, for a test in the same process: the string argument as the host gave
// it, or the number.
struct Call {
    std::wstring method;
    std::wstring text;
    double number = 0;
};

struct Runtime {
    bool driving = false;     // the program's scenario runs (a report file is named)
    HWND messages = nullptr;  // message-only window: the runtime's asynchronous completions
    HWND parent = nullptr;
    ICoreWebView2Environment* environment = nullptr;
    ICoreWebView2Controller* controller = nullptr;
    ICoreWebView2_4* web_view = nullptr;
    ICoreWebView2Settings* settings = nullptr;
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environment_handler = nullptr;
    ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* controller_handler = nullptr;
    ICoreWebView2WebResourceRequestedEventHandler* request_handler = nullptr;
    ICoreWebView2DownloadStartingEventHandler* download_handler = nullptr;

    std::string arguments;
    std::string user_data_folder;
    int runtime_type = -1;
    bool visible = false;
    RECT bounds{};
    int bounds_calls = 0;
    bool focused = false;
    BOOL dev_tools = TRUE;
    BOOL zoom = TRUE;
    std::string script;  // every document-start script, in order
    std::string filter;
    std::string navigated;                 // the first navigation
    std::vector<std::string> navigations;  // every one
    ICoreWebView2WebMessageReceivedEventHandler* message_handler = nullptr;
    std::vector<Call> calls;  // zoom, scripts, navigations and messages to the page, in order
    int scripts_written = 0;
};

Runtime runtime;

enum Step : UINT {
    ENVIRONMENT_READY = WM_APP + 1,
    CONTROLLER_READY,
    CHECK_SET_UP,
    SERVE_REQUESTS,
    DOWNLOAD,
    RESIZE,
    CHECK_RESIZE,
    LOSE_CONNECTION,
    CHECK_REATTACHED,
    CLOSE,
};

// How long the program may take to find the restarted target and navigate to it.
constexpr UINT_PTR REATTACH_TIMER = 1;
constexpr UINT REATTACH_LIMIT_MS = 10000;

void post(Step step) {
    PostMessageW(runtime.messages, step, 0, 0);
}

// ---- small objects: settings, deferral, response, request, headers, event args -----------------

template <class Interface, class Impl, class Table>
Interface* make(Table& table, std::unique_ptr<Impl> impl) {
    return make_com_object<Interface>(table, std::move(impl));
}

struct NoInterfaces {
    static bool answers(REFIID) { return false; }
};

struct FakeSettings : NoInterfaces {};
using SettingsObject = ComObject<ICoreWebView2Settings, FakeSettings>;
ICoreWebView2SettingsVtbl SETTINGS_TABLE{
    .QueryInterface = SettingsObject::query_interface,
    .AddRef = SettingsObject::add_ref,
    .Release = SettingsObject::release,
    .put_AreDevToolsEnabled = [](ICoreWebView2Settings*, BOOL enabled) -> HRESULT {
        runtime.dev_tools = enabled;
        return S_OK;
    },
    .put_IsZoomControlEnabled = [](ICoreWebView2Settings*, BOOL enabled) -> HRESULT {
        runtime.zoom = enabled;
        return S_OK;
    },
};

struct Deferral : NoInterfaces {
    bool completed = false;
};
using DeferralObject = ComObject<ICoreWebView2Deferral, Deferral>;
ICoreWebView2DeferralVtbl DEFERRAL_TABLE{
    .QueryInterface = DeferralObject::query_interface,
    .AddRef = DeferralObject::add_ref,
    .Release = DeferralObject::release,
    .Complete = [](ICoreWebView2Deferral* self) -> HRESULT {
        DeferralObject::impl_of(self).completed = true;
        return S_OK;
    },
};

struct ResponseImpl : NoInterfaces {
    RecordedResponse response;
    ~ResponseImpl() {
        if (response.content != nullptr) {
            response.content->lpVtbl->Release(response.content);
        }
    }
};
using ResponseObject = ComObject<ICoreWebView2WebResourceResponse, ResponseImpl>;
ICoreWebView2WebResourceResponseVtbl RESPONSE_TABLE{
    .QueryInterface = ResponseObject::query_interface,
    .AddRef = ResponseObject::add_ref,
    .Release = ResponseObject::release,
};

struct Iterator : NoInterfaces {
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t next = 0;
};
using IteratorObject = ComObject<ICoreWebView2HttpHeadersCollectionIterator, Iterator>;
ICoreWebView2HttpHeadersCollectionIteratorVtbl ITERATOR_TABLE{
    .QueryInterface = IteratorObject::query_interface,
    .AddRef = IteratorObject::add_ref,
    .Release = IteratorObject::release,
    .GetCurrentHeader = [](ICoreWebView2HttpHeadersCollectionIterator* self, LPWSTR* name,
                           LPWSTR* value) -> HRESULT {
        Iterator& it = IteratorObject::impl_of(self);
        if (it.next >= it.headers.size()) {
            return E_FAIL;
        }
        *name = co_string(it.headers[it.next].first);
        *value = co_string(it.headers[it.next].second);
        return S_OK;
    },
    .get_HasCurrentHeader = [](ICoreWebView2HttpHeadersCollectionIterator* self,
                               BOOL* has) -> HRESULT {
        Iterator& it = IteratorObject::impl_of(self);
        *has = it.next < it.headers.size() ? TRUE : FALSE;
        return S_OK;
    },
    .MoveNext = [](ICoreWebView2HttpHeadersCollectionIterator* self, BOOL* has) -> HRESULT {
        Iterator& it = IteratorObject::impl_of(self);
        ++it.next;
        *has = it.next < it.headers.size() ? TRUE : FALSE;
        return S_OK;
    },
};

struct Headers : NoInterfaces {
    std::vector<std::pair<std::string, std::string>> headers;
};
using HeadersObject = ComObject<ICoreWebView2HttpRequestHeaders, Headers>;
ICoreWebView2HttpRequestHeadersVtbl HEADERS_TABLE{
    .QueryInterface = HeadersObject::query_interface,
    .AddRef = HeadersObject::add_ref,
    .Release = HeadersObject::release,
    .GetIterator = [](ICoreWebView2HttpRequestHeaders* self,
                      ICoreWebView2HttpHeadersCollectionIterator** iterator) -> HRESULT {
        auto impl = std::make_unique<Iterator>();
        impl->headers = HeadersObject::impl_of(self).headers;
        *iterator =
            make<ICoreWebView2HttpHeadersCollectionIterator>(ITERATOR_TABLE, std::move(impl));
        return S_OK;
    },
};

struct RequestImpl : NoInterfaces {
    std::string uri;
};
using RequestObject = ComObject<ICoreWebView2WebResourceRequest, RequestImpl>;
ICoreWebView2WebResourceRequestVtbl REQUEST_TABLE{
    .QueryInterface = RequestObject::query_interface,
    .AddRef = RequestObject::add_ref,
    .Release = RequestObject::release,
    .get_Uri = [](ICoreWebView2WebResourceRequest* self, LPWSTR* uri) -> HRESULT {
        *uri = co_string(RequestObject::impl_of(self).uri);
        return S_OK;
    },
    .get_Method = [](ICoreWebView2WebResourceRequest*, LPWSTR* method) -> HRESULT {
        *method = co_string("GET");
        return S_OK;
    },
    .get_Content = [](ICoreWebView2WebResourceRequest*, IStream** content) -> HRESULT {
        *content = nullptr;  // a GET has no body
        return S_OK;
    },
    .get_Headers = [](ICoreWebView2WebResourceRequest*,
                      ICoreWebView2HttpRequestHeaders** headers) -> HRESULT {
        auto impl = std::make_unique<Headers>();
        impl->headers = {{"Accept", "*/*"}, {"Referer", "http://devtools.localhost/"}};
        *headers = make<ICoreWebView2HttpRequestHeaders>(HEADERS_TABLE, std::move(impl));
        return S_OK;
    },
};

struct RequestArgs : NoInterfaces {
    ICoreWebView2WebResourceRequest* request = nullptr;
    ICoreWebView2WebResourceResponse* response = nullptr;
    ICoreWebView2Deferral* deferral = nullptr;
    ~RequestArgs() {
        for (IUnknown* held :
             {reinterpret_cast<IUnknown*>(request), reinterpret_cast<IUnknown*>(response),
              reinterpret_cast<IUnknown*>(deferral)}) {
            if (held != nullptr) {
                held->lpVtbl->Release(held);
            }
        }
    }
};
using ArgsObject = ComObject<ICoreWebView2WebResourceRequestedEventArgs, RequestArgs>;
ICoreWebView2WebResourceRequestedEventArgsVtbl ARGS_TABLE{
    .QueryInterface = ArgsObject::query_interface,
    .AddRef = ArgsObject::add_ref,
    .Release = ArgsObject::release,
    .get_Request = [](ICoreWebView2WebResourceRequestedEventArgs* self,
                      ICoreWebView2WebResourceRequest** request) -> HRESULT {
        RequestArgs& args = ArgsObject::impl_of(self);
        args.request->lpVtbl->AddRef(args.request);
        *request = args.request;
        return S_OK;
    },
    .put_Response = [](ICoreWebView2WebResourceRequestedEventArgs* self,
                       ICoreWebView2WebResourceResponse* response) -> HRESULT {
        RequestArgs& args = ArgsObject::impl_of(self);
        if (args.response != nullptr) {
            args.response->lpVtbl->Release(args.response);
        }
        response->lpVtbl->AddRef(response);
        args.response = response;
        return S_OK;
    },
    .GetDeferral = [](ICoreWebView2WebResourceRequestedEventArgs* self,
                      ICoreWebView2Deferral** deferral) -> HRESULT {
        RequestArgs& args = ArgsObject::impl_of(self);
        if (args.deferral == nullptr) {
            args.deferral =
                make<ICoreWebView2Deferral>(DEFERRAL_TABLE, std::make_unique<Deferral>());
        }
        args.deferral->lpVtbl->AddRef(args.deferral);
        *deferral = args.deferral;
        return S_OK;
    },
};

struct DownloadArgs : NoInterfaces {
    BOOL cancel = TRUE;  // what a runtime would do without the host's answer: ask the user
    BOOL handled = FALSE;
};
using DownloadObject = ComObject<ICoreWebView2DownloadStartingEventArgs, DownloadArgs>;
ICoreWebView2DownloadStartingEventArgsVtbl DOWNLOAD_TABLE{
    .QueryInterface = DownloadObject::query_interface,
    .AddRef = DownloadObject::add_ref,
    .Release = DownloadObject::release,
    .put_Cancel = [](ICoreWebView2DownloadStartingEventArgs* self, BOOL cancel) -> HRESULT {
        DownloadObject::impl_of(self).cancel = cancel;
        return S_OK;
    },
    .put_Handled = [](ICoreWebView2DownloadStartingEventArgs* self, BOOL handled) -> HRESULT {
        DownloadObject::impl_of(self).handled = handled;
        return S_OK;
    },
};

// ---- the web view, the controller, the environment ---------------------------------------------

struct FakeWebView {
    static bool answers(REFIID riid) {
        // ICoreWebView2_4 yes; _22 no, so the host must fall back to the older filter call.
        return answers_any(riid, {IID_CORE_WEBVIEW2_4});
    }
};
using WebViewObject = ComObject<ICoreWebView2_4, FakeWebView>;

template <class Handler>
void hold(Handler*& slot, Handler* handler) {
    handler->lpVtbl->AddRef(handler);
    if (slot != nullptr) {
        slot->lpVtbl->Release(slot);
    }
    slot = handler;
}

ICoreWebView2_4Vtbl WEB_VIEW_TABLE{
    .QueryInterface = WebViewObject::query_interface,
    .AddRef = WebViewObject::add_ref,
    .Release = WebViewObject::release,
    .get_Settings = [](ICoreWebView2_4*, ICoreWebView2Settings** settings) -> HRESULT {
        runtime.settings->lpVtbl->AddRef(runtime.settings);
        *settings = runtime.settings;
        return S_OK;
    },
    .Navigate = [](ICoreWebView2_4*, LPCWSTR uri) -> HRESULT {
        runtime.calls.push_back({L"Navigate", uri});
        runtime.navigations.push_back(wide_to_utf8(uri));
        if (!runtime.driving) {
            return S_OK;
        }
        if (runtime.navigations.size() == 1) {
            runtime.navigated = runtime.navigations.front();
            post(CHECK_SET_UP);
        } else {
            post(CHECK_REATTACHED);
        }
        return S_OK;
    },
    .AddScriptToExecuteOnDocumentCreated =
        [](ICoreWebView2_4*, LPCWSTR script,
           ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler*) -> HRESULT {
        runtime.calls.push_back({L"AddScriptToExecuteOnDocumentCreated", script});
        runtime.script += wide_to_utf8(script) + "\n";
        if (const std::wstring folder = variable(L"QUELBY_FAKE_RUNTIME_SCRIPTS"); !folder.empty()) {
            wchar_t name[16] = {};
            std::swprintf(name, 16, L"\\%03d.js", runtime.scripts_written++);
            write_file(folder + name, L"wb", wide_to_utf8(script));
        }
        return S_OK;
    },
    .PostWebMessageAsString = [](ICoreWebView2_4*, LPCWSTR message) -> HRESULT {
        runtime.calls.push_back({L"PostWebMessageAsString", message});
        return S_OK;
    },
    .add_WebMessageReceived = [](ICoreWebView2_4*,
                                 ICoreWebView2WebMessageReceivedEventHandler* handler,
                                 EventRegistrationToken* token) -> HRESULT {
        hold(runtime.message_handler, handler);
        token->value = 3;
        return S_OK;
    },
    .add_WebResourceRequested = [](ICoreWebView2_4*,
                                   ICoreWebView2WebResourceRequestedEventHandler* handler,
                                   EventRegistrationToken* token) -> HRESULT {
        hold(runtime.request_handler, handler);
        token->value = 1;
        return S_OK;
    },
    .AddWebResourceRequestedFilter = [](ICoreWebView2_4*, LPCWSTR uri,
                                        COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) -> HRESULT {
        runtime.filter = wide_to_utf8(uri) + " " + std::to_string(static_cast<int>(context));
        return S_OK;
    },
    .add_DownloadStarting = [](ICoreWebView2_4*, ICoreWebView2DownloadStartingEventHandler* handler,
                               EventRegistrationToken* token) -> HRESULT {
        hold(runtime.download_handler, handler);
        token->value = 2;
        return S_OK;
    },
};

// A message from the page, as window.chrome.webview.postMessage(text) delivers it.
struct MessageArgs : NoInterfaces {
    std::wstring text;
};
using MessageArgsObject = ComObject<ICoreWebView2WebMessageReceivedEventArgs, MessageArgs>;
ICoreWebView2WebMessageReceivedEventArgsVtbl MESSAGE_ARGS_TABLE{
    .QueryInterface = MessageArgsObject::query_interface,
    .AddRef = MessageArgsObject::add_ref,
    .Release = MessageArgsObject::release,
    .TryGetWebMessageAsString = [](ICoreWebView2WebMessageReceivedEventArgs* self,
                                   LPWSTR* message) -> HRESULT {
        const std::wstring& text = MessageArgsObject::impl_of(self).text;
        const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        *message = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        std::memcpy(*message, text.c_str(), bytes);
        return S_OK;
    },
};

void page_posts(const std::string& text) {
    auto* args = make<ICoreWebView2WebMessageReceivedEventArgs>(
        MESSAGE_ARGS_TABLE, std::make_unique<MessageArgs>(MessageArgs{{}, utf8_to_wide(text)}));
    runtime.message_handler->lpVtbl->Invoke(
        runtime.message_handler, reinterpret_cast<ICoreWebView2*>(runtime.web_view), args);
    args->lpVtbl->Release(args);
}

// The ws= value of a front-end address.
std::string ws_target_of(const std::string& url) {
    const std::size_t start = url.find("?ws=");
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t end = url.find('&', start);
    return url.substr(start + 4, end == std::string::npos ? end : end - start - 4);
}

struct FakeController : NoInterfaces {};
using ControllerObject = ComObject<ICoreWebView2Controller, FakeController>;
ICoreWebView2ControllerVtbl CONTROLLER_TABLE{
    .QueryInterface = ControllerObject::query_interface,
    .AddRef = ControllerObject::add_ref,
    .Release = ControllerObject::release,
    .put_IsVisible = [](ICoreWebView2Controller*, BOOL visible) -> HRESULT {
        runtime.visible = visible != FALSE;
        return S_OK;
    },
    .put_Bounds = [](ICoreWebView2Controller*, RECT bounds) -> HRESULT {
        runtime.bounds = bounds;
        ++runtime.bounds_calls;
        return S_OK;
    },
    .put_ZoomFactor = [](ICoreWebView2Controller*, double factor) -> HRESULT {
        runtime.calls.push_back({L"put_ZoomFactor", {}, factor});
        // As the runtime documents: a factor must be above 0.
        return factor > 0 ? S_OK : E_INVALIDARG;
    },
    .MoveFocus = [](ICoreWebView2Controller*, COREWEBVIEW2_MOVE_FOCUS_REASON) -> HRESULT {
        runtime.focused = true;
        return S_OK;
    },
    .NotifyParentWindowPositionChanged = [](ICoreWebView2Controller*) -> HRESULT { return S_OK; },
    .Close = [](ICoreWebView2Controller*) -> HRESULT { return S_OK; },
    .get_CoreWebView2 = [](ICoreWebView2Controller*, ICoreWebView2** web_view) -> HRESULT {
        runtime.web_view->lpVtbl->AddRef(runtime.web_view);
        *web_view = reinterpret_cast<ICoreWebView2*>(runtime.web_view);
        return S_OK;
    },
};

struct FakeEnvironment : NoInterfaces {};
using EnvironmentObject = ComObject<ICoreWebView2Environment, FakeEnvironment>;
ICoreWebView2EnvironmentVtbl ENVIRONMENT_TABLE{
    .QueryInterface = EnvironmentObject::query_interface,
    .AddRef = EnvironmentObject::add_ref,
    .Release = EnvironmentObject::release,
    .CreateCoreWebView2Controller =
        [](ICoreWebView2Environment*, HWND parent,
           ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) -> HRESULT {
        runtime.parent = parent;
        hold(runtime.controller_handler, handler);
        post(CONTROLLER_READY);
        return S_OK;
    },
    .CreateWebResourceResponse = [](ICoreWebView2Environment*, IStream* content, int status,
                                    LPCWSTR reason, LPCWSTR headers,
                                    ICoreWebView2WebResourceResponse** response) -> HRESULT {
        auto impl = std::make_unique<ResponseImpl>();
        impl->response.status = status;
        impl->response.reason = wide_to_utf8(reason);
        impl->response.headers = wide_to_utf8(headers);
        if (content != nullptr) {
            content->lpVtbl->AddRef(content);
            impl->response.content = content;
        }
        *response = make<ICoreWebView2WebResourceResponse>(RESPONSE_TABLE, std::move(impl));
        return S_OK;
    },
};

// ---- the scenario
// ---------------------------------------------------------------------------------

std::vector<std::uint8_t> read_to_end(IStream* stream) {
    std::vector<std::uint8_t> bytes;
    if (stream == nullptr) {
        return bytes;
    }
    std::uint8_t buffer[4096];
    while (true) {
        ULONG read = 0;
        const HRESULT result = stream->lpVtbl->Read(stream, buffer, sizeof buffer, &read);
        bytes.insert(bytes.end(), buffer, buffer + read);
        if (FAILED(result) || read == 0) {
            return bytes;
        }
    }
}

// One request as the runtime sends it: the handler is invoked, then (as a later answer would be)
// the response is read after the handler has returned and the deferral is complete.
struct Sent {
    ICoreWebView2WebResourceRequestedEventArgs* args = nullptr;
    std::string name;
    std::string uri;
};
std::vector<Sent> sent;

void send_request(const std::string& name, const std::string& uri) {
    auto request = std::make_unique<RequestImpl>();
    request->uri = uri;
    auto args = std::make_unique<RequestArgs>();
    args->request = make<ICoreWebView2WebResourceRequest>(REQUEST_TABLE, std::move(request));
    ICoreWebView2WebResourceRequestedEventArgs* object =
        make<ICoreWebView2WebResourceRequestedEventArgs>(ARGS_TABLE, std::move(args));
    const HRESULT result = runtime.request_handler->lpVtbl->Invoke(
        runtime.request_handler, reinterpret_cast<ICoreWebView2*>(runtime.web_view), object);
    expect(SUCCEEDED(result), name + ": handler succeeds", std::to_string(result));
    sent.push_back({object, name, uri});
}

void check_answer(const Sent& request) {
    RequestArgs& args = ArgsObject::impl_of(request.args);
    const std::string path_uri =
        "devtools://localhost" + request.uri.substr(std::strlen("http://devtools.localhost"));
    const DevtoolsResponse expected = devtools_response_for_uri(path_uri);
    const bool deferred =
        args.deferral != nullptr && DeferralObject::impl_of(args.deferral).completed;
    expect(deferred, request.name + ": deferral taken and completed");
    if (args.response == nullptr) {
        expect(false, request.name + ": response", "none put");
        return;
    }
    const RecordedResponse& response = ResponseObject::impl_of(args.response).response;
    expect(response.status == expected.status, request.name + ": status",
           std::to_string(response.status));
    expect(response.reason == (expected.status == 200 ? "OK" : "Not Found"),
           request.name + ": reason", response.reason);
    const std::string headers = "content-type: " + std::string(expected.content_type) + "\n";
    expect(response.headers == headers, request.name + ": headers", response.headers);
    const std::vector<std::uint8_t> bytes = read_to_end(response.content);
    const bool same = bytes.size() == expected.body.size() &&
                      std::equal(bytes.begin(), bytes.end(), expected.body.begin());
    expect(
        same, request.name + ": body read to the end equals the embedded bytes",
        std::to_string(bytes.size()) + " bytes, expected " + std::to_string(expected.body.size()));
}

bool zoomed_before_navigating() {
    for (const Call& call : runtime.calls) {
        if (call.method == L"Navigate") {
            return false;
        }
        if (call.method == L"put_ZoomFactor") {
            return call.number > 0;
        }
    }
    return false;
}

std::string first_path_ending(std::string_view suffix) {
    for (const AssetEntry& entry : AssetTable::entries()) {
        if (entry.path.ends_with(suffix)) {
            return std::string(entry.path);
        }
    }
    return {};
}

void run_step(UINT step) {
    switch (step) {
        case ENVIRONMENT_READY: {
            auto* handler = runtime.environment_handler;
            runtime.environment_handler = nullptr;
            handler->lpVtbl->Invoke(handler, S_OK, runtime.environment);
            handler->lpVtbl->Release(handler);
            break;
        }
        case CONTROLLER_READY: {
            auto* handler = runtime.controller_handler;
            runtime.controller_handler = nullptr;
            handler->lpVtbl->Invoke(handler, S_OK, runtime.controller);
            handler->lpVtbl->Release(handler);
            break;
        }
        case CHECK_SET_UP: {
            RECT client{};
            GetClientRect(runtime.parent, &client);
            expect(runtime.runtime_type == 1, "fixed-version runtime type",
                   std::to_string(runtime.runtime_type));
            expect(runtime.arguments.find("--disable-features=") == 0 &&
                       runtime.arguments.ends_with(" --quelby-test-switch"),
                   "our browser arguments, then WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS",
                   runtime.arguments);
            expect(runtime.user_data_folder.ends_with("\\inspector\\profile"),
                   "a relative user data folder lies beside the exe", runtime.user_data_folder);
            expect(runtime.dev_tools == FALSE && runtime.zoom == FALSE,
                   "browser developer tools and zoom keys off");
            expect(zoomed_before_navigating(), "a start zoom before the first navigation");
            expect(runtime.visible && runtime.focused, "view visible and focused");
            expect(EqualRect(&runtime.bounds, &client) != FALSE && client.right > 0,
                   "view fills the client area");
            expect(runtime.script.find("window.chrome.webview.postMessage") != std::string::npos,
                   "document-start script");
            expect(runtime.script.find("websocket closed: ") != std::string::npos &&
                       runtime.message_handler != nullptr,
                   "the page's sockets are watched and its messages received");
            expect(runtime.filter == "http://devtools.* 0", "request filter", runtime.filter);
            expect(runtime.navigated.starts_with("http://devtools.localhost/js_app.html?ws=") &&
                       runtime.navigated.ends_with("&experiments=true&v8only=true"),
                   "navigation URL", runtime.navigated);
            expect(runtime.request_handler != nullptr && runtime.download_handler != nullptr,
                   "request and download handlers registered");
            post(SERVE_REQUESTS);
            break;
        }
        case SERVE_REQUESTS: {
            if (runtime.request_handler == nullptr) {
                post(DOWNLOAD);
                break;
            }
            send_request("start page", runtime.navigated);
            send_request("module script", "http://devtools.localhost/" + first_path_ending(".js"));
            send_request("icon", "http://devtools.localhost/" + first_path_ending(".svg") + "#x");
            send_request("missing file", "http://devtools.localhost/no/such/file.js");
            // Not the private scheme: the host must leave it to the runtime.
            auto request = std::make_unique<RequestImpl>();
            request->uri = "https://example.com/devtools.localhost/";
            auto args = std::make_unique<RequestArgs>();
            args->request =
                make<ICoreWebView2WebResourceRequest>(REQUEST_TABLE, std::move(request));
            auto* other =
                make<ICoreWebView2WebResourceRequestedEventArgs>(ARGS_TABLE, std::move(args));
            runtime.request_handler->lpVtbl->Invoke(
                runtime.request_handler, reinterpret_cast<ICoreWebView2*>(runtime.web_view), other);
            expect(ArgsObject::impl_of(other).response == nullptr &&
                       ArgsObject::impl_of(other).deferral == nullptr,
                   "another address is left alone");
            other->lpVtbl->Release(other);
            // The answers are read later, from the queue, as the runtime's network thread would.
            post(DOWNLOAD);
            break;
        }
        case DOWNLOAD: {
            for (const Sent& request : sent) {
                check_answer(request);
                request.args->lpVtbl->Release(request.args);
            }
            sent.clear();
            if (runtime.download_handler != nullptr) {
                auto* args = make<ICoreWebView2DownloadStartingEventArgs>(
                    DOWNLOAD_TABLE, std::make_unique<DownloadArgs>());
                runtime.download_handler->lpVtbl->Invoke(
                    runtime.download_handler, reinterpret_cast<ICoreWebView2*>(runtime.web_view),
                    args);
                const DownloadArgs& answer = DownloadObject::impl_of(args);
                expect(answer.cancel == FALSE && answer.handled == TRUE,
                       "a download goes ahead without a prompt");
                args->lpVtbl->Release(args);
            }
            post(RESIZE);
            break;
        }
        case RESIZE: {
            runtime.bounds_calls = 0;
            SetWindowPos(runtime.parent, nullptr, 0, 0, 640, 480,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            post(CHECK_RESIZE);
            break;
        }
        case CHECK_RESIZE: {
            RECT client{};
            GetClientRect(runtime.parent, &client);
            expect(
                runtime.bounds_calls > 0 && EqualRect(&runtime.bounds, &client) != FALSE,
                "view follows a resize",
                std::to_string(runtime.bounds.right) + "x" + std::to_string(runtime.bounds.bottom));
            post(LOSE_CONNECTION);
            break;
        }
        case LOSE_CONNECTION: {
            // The debuggee went away: the front end's socket closes. The program must look the
            // target up again and navigate to the one the inspector now lists.
            if (runtime.message_handler == nullptr) {
                post(CLOSE);
                break;
            }
            SetTimer(runtime.messages, REATTACH_TIMER, REATTACH_LIMIT_MS, nullptr);
            page_posts("websocket closed: ws://" + ws_target_of(runtime.navigated));
            break;
        }
        case CHECK_REATTACHED: {
            KillTimer(runtime.messages, REATTACH_TIMER);
            expect(runtime.navigations.size() == 2 &&
                       ws_target_of(runtime.navigations[1]) == "127.0.0.1:4000/restarted-target" &&
                       runtime.navigations[1].starts_with("http://devtools.localhost/js_app.html"),
                   "navigated to the restarted target", runtime.navigations.back());
            post(CLOSE);
            break;
        }
        case CLOSE:
            report_line("done");
            PostMessageW(runtime.parent, WM_CLOSE, 0, 0);
            break;
        default:
            break;
    }
}

LRESULT CALLBACK message_window(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message > WM_APP && message <= CLOSE) {
        run_step(message);
        return 0;
    }
    if (message == WM_TIMER && wparam == REATTACH_TIMER) {
        KillTimer(hwnd, REATTACH_TIMER);
        expect(false, "navigated to the restarted target",
               "no navigation within " + std::to_string(REATTACH_LIMIT_MS) + " ms");
        post(CLOSE);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

// A test in the same process may build one web view after another: each environment starts with
// an empty record. The message window stays.
void start_afresh() {
    for (IUnknown* held : {reinterpret_cast<IUnknown*>(runtime.environment),
                           reinterpret_cast<IUnknown*>(runtime.controller),
                           reinterpret_cast<IUnknown*>(runtime.web_view),
                           reinterpret_cast<IUnknown*>(runtime.settings),
                           reinterpret_cast<IUnknown*>(runtime.environment_handler),
                           reinterpret_cast<IUnknown*>(runtime.controller_handler),
                           reinterpret_cast<IUnknown*>(runtime.request_handler),
                           reinterpret_cast<IUnknown*>(runtime.download_handler),
                           reinterpret_cast<IUnknown*>(runtime.message_handler)}) {
        if (held != nullptr) {
            held->lpVtbl->Release(held);
        }
    }
    const HWND messages = runtime.messages;
    runtime = Runtime{};
    runtime.messages = messages;
}

}  // namespace

// The host's calls since the environment was created, for a test in the same process: the
// index-th call's method, string argument and number; false past the last. The strings stay valid
// until the next environment is created.
extern "C" __declspec(dllexport) bool quelby_fake_runtime_call(int index, const wchar_t** method,
                                                               const wchar_t** text,
                                                               double* number) {
    if (index < 0 || static_cast<std::size_t>(index) >= runtime.calls.size()) {
        return false;
    }
    const Call& call = runtime.calls[static_cast<std::size_t>(index)];
    *method = call.method.c_str();
    *text = call.text.c_str();
    *number = call.number;
    return true;
}

// What the loader calls: (check running instance, runtime type, user data folder, options,
// handler). The environment is handed over later, from the message queue.
extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE
    CreateWebViewEnvironmentWithOptionsInternal(
        bool /*check_running_instance*/, int runtime_type, LPCWSTR user_data_folder,
        IUnknown* options, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    start_afresh();
    runtime.driving = !variable(L"QUELBY_FAKE_RUNTIME_REPORT").empty();
    runtime.runtime_type = runtime_type;
    runtime.user_data_folder = user_data_folder != nullptr ? wide_to_utf8(user_data_folder) : "";
    void* found = nullptr;
    if (options != nullptr &&
        SUCCEEDED(options->lpVtbl->QueryInterface(options, IID_ENVIRONMENT_OPTIONS, &found))) {
        auto* environment_options = static_cast<ICoreWebView2EnvironmentOptions*>(found);
        LPWSTR arguments = nullptr;
        if (SUCCEEDED(environment_options->lpVtbl->get_AdditionalBrowserArguments(
                environment_options, &arguments)) &&
            arguments != nullptr) {
            runtime.arguments = wide_to_utf8(arguments);
            CoTaskMemFree(arguments);
        }
        environment_options->lpVtbl->Release(environment_options);
    }
    if (runtime.messages == nullptr) {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = message_window;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"QuelbyFakeWebView2Runtime";
        RegisterClassW(&window_class);
        runtime.messages = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0,
                                           HWND_MESSAGE, nullptr, window_class.hInstance, nullptr);
    }
    runtime.environment =
        make<ICoreWebView2Environment>(ENVIRONMENT_TABLE, std::make_unique<FakeEnvironment>());
    runtime.controller =
        make<ICoreWebView2Controller>(CONTROLLER_TABLE, std::make_unique<FakeController>());
    runtime.web_view = make<ICoreWebView2_4>(WEB_VIEW_TABLE, std::make_unique<FakeWebView>());
    runtime.settings =
        make<ICoreWebView2Settings>(SETTINGS_TABLE, std::make_unique<FakeSettings>());
    hold(runtime.environment_handler, handler);
    post(ENVIRONMENT_READY);
    return S_OK;
}
