// WebViewBuilder::build for WebView2: environment, then controller, created while this thread
// keeps dispatching its messages; then the start zoom, the document-start scripts, the
// private-scheme filter and handler, the download rule and the first navigation. Also what the
// program asks of the built web view: navigations, messages to the page and zoom.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "com_object.h"
#include "quelby/core/os_error.h"
#include "quelby/core/wide_text_win32.h"
#include "quelby/webview_host/page_diagnostics_script.h"
#include "quelby/webview_host/scheme_rules.h"
#include "span_stream.h"
#include "webview2_environment_rules.h"
#include "webview2_loader.h"
#include "webview2_options.h"
#include "webview2_page_channel.h"
#include "webview2_scheme_rules.h"
#include "win32_state.h"

namespace quelby::webview_host {
namespace {

using namespace webview2;

constexpr std::string_view WEB_VIEW_IDENTIFIER = "main";

ErrorChain webview2_error(HRESULT result) {
    const auto code = static_cast<std::uint32_t>(result);
    return ErrorChain::from_message(
        hresult_error_text(code, os_error_text(static_cast<int>(code))));
}

std::string take_co_string(LPWSTR text) {
    if (text == nullptr) {
        return {};
    }
    std::string converted = wide_to_utf8(text);
    CoTaskMemFree(text);
    return converted;
}

// ---- completion handlers: each records the runtime's answer for the waiting build -------------

template <class Result>
struct Completion {
    bool done = false;
    HRESULT result = E_PENDING;
    Result* value = nullptr;  // one reference, owned by whoever takes it
};

// The handler of one asynchronous creation (environment or controller): records the runtime's
// answer, with a reference to what it created, for the build waiting on it.
template <class Created, const IID& HANDLER_IID>
class CreationCompleted {
  public:
    explicit CreationCompleted(std::shared_ptr<Completion<Created>> completion)
        : completion_(std::move(completion)) {}
    static bool answers(REFIID riid) { return answers_any(riid, {HANDLER_IID}); }
    void invoke(HRESULT result, Created* created) {
        if (completion_->done) {
            return;
        }
        completion_->done = true;
        completion_->result = result;
        if (SUCCEEDED(result) && created != nullptr) {
            created->lpVtbl->AddRef(created);
            completion_->value = created;
        } else if (SUCCEEDED(result)) {
            completion_->result = E_POINTER;
        }
    }

  private:
    std::shared_ptr<Completion<Created>> completion_;
};

using EnvironmentCompleted =
    CreationCompleted<ICoreWebView2Environment, IID_ENVIRONMENT_COMPLETED_HANDLER>;
using ControllerCompleted =
    CreationCompleted<ICoreWebView2Controller, IID_CONTROLLER_COMPLETED_HANDLER>;
using EnvironmentObject =
    ComObject<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, EnvironmentCompleted>;
using ControllerObject =
    ComObject<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, ControllerCompleted>;

template <class Object, class Handler, class Created>
HRESULT STDMETHODCALLTYPE creation_completed(Handler* self, HRESULT result, Created* created) {
    Object::impl_of(self).invoke(result, created);
    return S_OK;
}

ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandlerVtbl ENVIRONMENT_COMPLETED_TABLE{
    .QueryInterface = EnvironmentObject::query_interface,
    .AddRef = EnvironmentObject::add_ref,
    .Release = EnvironmentObject::release,
    .Invoke = creation_completed<EnvironmentObject>,
};

ICoreWebView2CreateCoreWebView2ControllerCompletedHandlerVtbl CONTROLLER_COMPLETED_TABLE{
    .QueryInterface = ControllerObject::query_interface,
    .AddRef = ControllerObject::add_ref,
    .Release = ControllerObject::release,
    .Invoke = creation_completed<ControllerObject>,
};

// Dispatches this thread's messages until `done`; the runtime's completions arrive through them.
template <class Result>
Status pump_until(const Completion<Result>& completion) {
    MSG message{};
    while (!completion.done) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // Keep the quit request for the loop that owns it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return std::unexpected(webview2_error(HRESULT_FROM_WIN32(ERROR_CANCELLED)));
        }
        if (got == -1) {
            return std::unexpected(webview2_error(HRESULT_FROM_WIN32(GetLastError())));
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return {};
}

// ---- private-scheme requests
// ---------------------------------------------------------------------

struct Scheme {
    std::string name;
    SchemeHandler handler;
};

Request read_request(ICoreWebView2WebResourceRequest* source, std::string uri) {
    Request request;
    request.uri = std::move(uri);
    LPWSTR method = nullptr;
    if (SUCCEEDED(source->lpVtbl->get_Method(source, &method))) {
        request.method = take_co_string(method);
    }
    ComPtr<ICoreWebView2HttpRequestHeaders> headers;
    ComPtr<ICoreWebView2HttpHeadersCollectionIterator> iterator;
    if (SUCCEEDED(source->lpVtbl->get_Headers(source, headers.put())) && headers &&
        SUCCEEDED(headers->lpVtbl->GetIterator(headers.get(), iterator.put())) && iterator) {
        BOOL has_current = FALSE;
        while (SUCCEEDED(iterator->lpVtbl->get_HasCurrentHeader(iterator.get(), &has_current)) &&
               has_current) {
            LPWSTR name = nullptr;
            LPWSTR value = nullptr;
            if (SUCCEEDED(iterator->lpVtbl->GetCurrentHeader(iterator.get(), &name, &value))) {
                request.headers.push_back(Header{take_co_string(name), take_co_string(value)});
            }
            BOOL has_next = FALSE;
            if (FAILED(iterator->lpVtbl->MoveNext(iterator.get(), &has_next)) || !has_next) {
                break;
            }
        }
    }
    ComPtr<IStream> content;
    if (SUCCEEDED(source->lpVtbl->get_Content(source, content.put())) && content) {
        std::uint8_t buffer[16384];
        while (true) {
            ULONG read = 0;
            const HRESULT result =
                content->lpVtbl->Read(content.get(), buffer, sizeof buffer, &read);
            request.body.insert(request.body.end(), buffer, buffer + read);
            if (FAILED(result) || result == S_FALSE || read == 0) {
                break;
            }
        }
    }
    return request;
}

// Everything a late answer needs; the references are released when the request is completed.
struct PendingRequest {
    ComPtr<ICoreWebView2Environment> environment;
    ComPtr<ICoreWebView2WebResourceRequestedEventArgs> args;
    ComPtr<ICoreWebView2Deferral> deferral;
};

HRESULT put_response(PendingRequest& pending, int status, std::string_view reason,
                     const std::string& header_text, std::span<const std::uint8_t> body) {
    ComPtr<IStream> stream;
    if (!body.empty()) {
        stream = ComPtr<IStream>(make_span_stream(body));
    }
    const std::wstring wide_reason = utf8_to_wide(reason);
    const std::wstring wide_headers = utf8_to_wide(header_text);
    ComPtr<ICoreWebView2WebResourceResponse> response;
    HRESULT result = pending.environment->lpVtbl->CreateWebResourceResponse(
        pending.environment.get(), stream.get(), status, wide_reason.c_str(), wide_headers.c_str(),
        response.put());
    if (SUCCEEDED(result)) {
        result = pending.args->lpVtbl->put_Response(pending.args.get(), response.get());
    }
    return result;
}

void complete(PendingRequest& pending, const Response& response) {
    const HRESULT result = put_response(pending, response.status, reason_phrase(response.status),
                                        header_lines(response.headers), response.body);
    if (FAILED(result)) {
        // Refused (e.g. a status the runtime does not accept): a plain client error instead.
        put_response(pending, REFUSED_RESPONSE_STATUS, reason_phrase(REFUSED_RESPONSE_STATUS), {},
                     {});
    }
    pending.deferral->lpVtbl->Complete(pending.deferral.get());
}

class ResourceRequested {
  public:
    ResourceRequested(std::vector<Scheme> schemes, ICoreWebView2Environment* environment)
        : schemes_(std::move(schemes)), environment_(environment) {
        environment_->lpVtbl->AddRef(environment_);
    }
    ResourceRequested(const ResourceRequested&) = delete;
    ResourceRequested& operator=(const ResourceRequested&) = delete;
    ~ResourceRequested() { environment_->lpVtbl->Release(environment_); }

    static bool answers(REFIID riid) {
        return answers_any(riid, {IID_WEB_RESOURCE_REQUESTED_HANDLER});
    }

    HRESULT invoke(ICoreWebView2WebResourceRequestedEventArgs* args) {
        ComPtr<ICoreWebView2WebResourceRequest> source;
        HRESULT result = args->lpVtbl->get_Request(args, source.put());
        if (FAILED(result) || !source) {
            return FAILED(result) ? result : E_POINTER;
        }
        LPWSTR wide_uri = nullptr;
        result = source->lpVtbl->get_Uri(source.get(), &wide_uri);
        if (FAILED(result)) {
            return result;
        }
        const std::string uri = take_co_string(wide_uri);
        const Scheme* scheme = scheme_of(uri);
        if (scheme == nullptr) {
            return S_OK;  // not ours: the runtime carries on as usual
        }
        Request request = read_request(source.get(), to_scheme_uri(uri, scheme->name));

        auto pending = std::make_shared<PendingRequest>();
        environment_->lpVtbl->AddRef(environment_);
        pending->environment = ComPtr<ICoreWebView2Environment>(environment_);
        args->lpVtbl->AddRef(args);
        pending->args = ComPtr<ICoreWebView2WebResourceRequestedEventArgs>(args);
        result = args->lpVtbl->GetDeferral(args, pending->deferral.put());
        if (FAILED(result) || !pending->deferral) {
            return FAILED(result) ? result : E_POINTER;
        }
        Responder responder([pending](Response response) { complete(*pending, response); });
        scheme->handler(WEB_VIEW_IDENTIFIER, request, std::move(responder));
        return S_OK;
    }

  private:
    const Scheme* scheme_of(std::string_view uri) const {
        for (const Scheme& scheme : schemes_) {
            if (uri.starts_with("http://" + scheme.name + ".")) {
                return &scheme;
            }
        }
        return nullptr;
    }

    std::vector<Scheme> schemes_;
    ICoreWebView2Environment* environment_;
};

using ResourceObject = ComObject<ICoreWebView2WebResourceRequestedEventHandler, ResourceRequested>;

HRESULT STDMETHODCALLTYPE resource_requested(ICoreWebView2WebResourceRequestedEventHandler* self,
                                             ICoreWebView2* /*sender*/,
                                             ICoreWebView2WebResourceRequestedEventArgs* args) {
    // Nothing may unwind into the runtime.
    try {
        return ResourceObject::impl_of(self).invoke(args);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

ICoreWebView2WebResourceRequestedEventHandlerVtbl RESOURCE_REQUESTED_TABLE{
    .QueryInterface = ResourceObject::query_interface,
    .AddRef = ResourceObject::add_ref,
    .Release = ResourceObject::release,
    .Invoke = resource_requested,
};

// ---- downloads: allowed where the runtime proposes, without asking
// --------------------------------

struct DownloadStarting {
    static bool answers(REFIID riid) { return answers_any(riid, {IID_DOWNLOAD_STARTING_HANDLER}); }
};

using DownloadObject = ComObject<ICoreWebView2DownloadStartingEventHandler, DownloadStarting>;

HRESULT STDMETHODCALLTYPE download_starting(ICoreWebView2DownloadStartingEventHandler* /*self*/,
                                            ICoreWebView2* /*sender*/,
                                            ICoreWebView2DownloadStartingEventArgs* args) {
    args->lpVtbl->put_Cancel(args, FALSE);
    return args->lpVtbl->put_Handled(args, TRUE);
}

ICoreWebView2DownloadStartingEventHandlerVtbl DOWNLOAD_STARTING_TABLE{
    .QueryInterface = DownloadObject::query_interface,
    .AddRef = DownloadObject::add_ref,
    .Release = DownloadObject::release,
    .Invoke = download_starting,
};

// ---- the page's diagnostics: messages with the diagnostics marker go to the sink
// -----------------------

// Both the diagnostics and window.ipc arrive here: the marker tells them apart.
struct MessageReceived {
    static bool answers(REFIID riid) {
        return answers_any(riid, {IID_WEB_MESSAGE_RECEIVED_HANDLER});
    }
    PageDiagnosticSink diagnostics;
    PageMessageSink messages;
};

using MessageObject = ComObject<ICoreWebView2WebMessageReceivedEventHandler, MessageReceived>;

HRESULT STDMETHODCALLTYPE message_received(ICoreWebView2WebMessageReceivedEventHandler* self,
                                           ICoreWebView2* /*sender*/,
                                           ICoreWebView2WebMessageReceivedEventArgs* args) {
    LPWSTR message = nullptr;
    // Fails for a message that is not a string: none of ours.
    if (FAILED(args->lpVtbl->TryGetWebMessageAsString(args, &message)) || message == nullptr) {
        return S_OK;
    }
    const std::string text = wide_to_utf8(message);
    CoTaskMemFree(message);
    const MessageReceived& receiver = MessageObject::impl_of(self);
    try {
        if (const auto diagnostic = diagnostic_text(text)) {
            if (receiver.diagnostics) {
                receiver.diagnostics(*diagnostic);
            }
        } else if (receiver.messages) {
            receiver.messages(text);
        }
    } catch (...) {
        // Nothing may unwind into the runtime; a lost message is all that happens.
    }
    return S_OK;
}

ICoreWebView2WebMessageReceivedEventHandlerVtbl MESSAGE_RECEIVED_TABLE{
    .QueryInterface = MessageObject::query_interface,
    .AddRef = MessageObject::add_ref,
    .Release = MessageObject::release,
    .Invoke = message_received,
};

// ---- environment options
// ---------------------------------------------------------------------------

std::wstring user_language() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    const LCID language = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    if (LCIDToLocaleName(language, name, LOCALE_NAME_MAX_LENGTH, 0) == 0 &&
        GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) == 0) {
        name[0] = L'\0';
    }
    return utf8_to_wide(language_tag(wide_to_utf8(name)));
}

EnvironmentSettings environment_settings() {
    EnvironmentSettings settings{
        .additional_browser_arguments = utf8_to_wide(BROWSER_ARGUMENTS),
        .language = user_language(),
        .target_compatible_browser_version = utf8_to_wide(TARGET_COMPATIBLE_BROWSER_VERSION),
    };
    return settings;
}

Status check(HRESULT result) {
    if (FAILED(result)) {
        return std::unexpected(webview2_error(result));
    }
    return {};
}

Status start_com() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // S_FALSE: already initialised the same way on this thread, which is fine.
    return check(result == S_FALSE ? S_OK : result);
}

// Waits, dispatching messages, for a creation started with `completion`'s handler; then the
// created object, or the runtime's error.
template <class Created>
Result<ComPtr<Created>> await_creation(Completion<Created>& completion) {
    if (auto waited = pump_until(completion); !waited) {
        return std::unexpected(std::move(waited).error());
    }
    ComPtr<Created> created(completion.value);
    completion.value = nullptr;
    if (auto succeeded = check(completion.result); !succeeded) {
        return std::unexpected(std::move(succeeded).error());
    }
    return created;
}

Result<ComPtr<ICoreWebView2Environment>> create_environment_now() {
    auto completion = std::make_shared<Completion<ICoreWebView2Environment>>();
    ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> handler(
        make_com_object<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
            ENVIRONMENT_COMPLETED_TABLE, std::make_unique<EnvironmentCompleted>(completion)));
    ComPtr<ICoreWebView2EnvironmentOptions> options(
        make_environment_options(environment_settings()));
    if (auto started = check(create_environment(options.get(), handler.get())); !started) {
        return std::unexpected(std::move(started).error());
    }
    return await_creation(*completion);
}

Result<ComPtr<ICoreWebView2Controller>> create_controller_now(ICoreWebView2Environment* environment,
                                                              HWND hwnd) {
    auto completion = std::make_shared<Completion<ICoreWebView2Controller>>();
    ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> handler(
        make_com_object<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
            CONTROLLER_COMPLETED_TABLE, std::make_unique<ControllerCompleted>(completion)));
    if (auto started = check(
            environment->lpVtbl->CreateCoreWebView2Controller(environment, hwnd, handler.get()));
        !started) {
        return std::unexpected(std::move(started).error());
    }
    return await_creation(*completion);
}

template <class Interface>
ComPtr<Interface> query(ICoreWebView2* web_view, const IID& iid) {
    void* found = nullptr;
    if (FAILED(web_view->lpVtbl->QueryInterface(web_view, iid, &found))) {
        return {};
    }
    return ComPtr<Interface>(static_cast<Interface*>(found));
}

Status add_request_filter(ICoreWebView2* web_view, const std::string& scheme) {
    const std::wstring filter = utf8_to_wide(request_filter(scheme));
    // Where the runtime can, requests from workers and other sources are filtered as well.
    if (auto newer = query<ICoreWebView2_22>(web_view, IID_CORE_WEBVIEW2_22)) {
        return check(newer->lpVtbl->AddWebResourceRequestedFilterWithRequestSourceKinds(
            newer.get(), filter.c_str(), WEB_RESOURCE_CONTEXT_ALL, REQUEST_SOURCE_KINDS_ALL));
    }
    return check(web_view->lpVtbl->AddWebResourceRequestedFilter(web_view, filter.c_str(),
                                                                 WEB_RESOURCE_CONTEXT_ALL));
}

Status disable_browser_tools(ICoreWebView2* web_view) {
    ComPtr<ICoreWebView2Settings> settings;
    if (auto got = check(web_view->lpVtbl->get_Settings(web_view, settings.put())); !got) {
        return got;
    }
    if (settings.get() == nullptr) {
        return std::unexpected(webview2_error(E_POINTER));
    }
    if (auto set = check(settings->lpVtbl->put_AreDevToolsEnabled(settings.get(), FALSE)); !set) {
        return set;
    }
    return check(settings->lpVtbl->put_IsZoomControlEnabled(settings.get(), FALSE));
}

Status add_script(ICoreWebView2* web_view, std::string_view source) {
    const std::wstring script = utf8_to_wide(source);
    return check(
        web_view->lpVtbl->AddScriptToExecuteOnDocumentCreated(web_view, script.c_str(), nullptr));
}

Status receive_page_messages(ICoreWebView2* web_view, PageDiagnosticSink diagnostics,
                             PageMessageSink messages) {
    ComPtr<ICoreWebView2WebMessageReceivedEventHandler> handler(
        make_com_object<ICoreWebView2WebMessageReceivedEventHandler>(
            MESSAGE_RECEIVED_TABLE,
            std::make_unique<MessageReceived>(std::move(diagnostics), std::move(messages))));
    EventRegistrationToken token{};
    return check(web_view->lpVtbl->add_WebMessageReceived(web_view, handler.get(), &token));
}

}  // namespace

WebViewState::~WebViewState() {
    if (window != nullptr && window->controller == controller) {
        window->controller = nullptr;
    }
    if (controller != nullptr) {
        controller->lpVtbl->Close(controller);
    }
    for (IUnknown* held :
         {reinterpret_cast<IUnknown*>(web_view), reinterpret_cast<IUnknown*>(controller),
          reinterpret_cast<IUnknown*>(environment)}) {
        if (held != nullptr) {
            held->lpVtbl->Release(held);
        }
    }
}

Result<WebView> WebViewBuilder::build(Window& window) {
    WindowState& window_state = window.state();
    // Refused before the runtime is started: nothing to undo.
    if (auto checked = check_private_schemes(schemes_, "WebView2"); !checked) {
        return std::unexpected(std::move(checked).error());
    }
    if (auto started = start_com(); !started) {
        return std::unexpected(std::move(started).error());
    }
    auto environment = create_environment_now();
    if (!environment) {
        return std::unexpected(std::move(environment).error());
    }
    auto controller = create_controller_now(environment->get(), window_state.hwnd);
    if (!controller) {
        return std::unexpected(std::move(controller).error());
    }
    auto state = std::make_unique<WebViewState>();
    state->window = &window_state;
    state->environment = environment->release();
    state->controller = controller->release();
    if (auto got =
            check(state->controller->lpVtbl->get_CoreWebView2(state->controller, &state->web_view));
        !got) {
        return std::unexpected(std::move(got).error());
    }
    if (state->web_view == nullptr) {
        return std::unexpected(webview2_error(E_POINTER));
    }
    ICoreWebView2* web_view = state->web_view;

    // The browser's own developer tools and zoom keys are off: the page is the debugger, and
    // the runtime enables both by default.
    if (auto settings = disable_browser_tools(web_view); !settings) {
        return std::unexpected(std::move(settings).error());
    }

    // The view fills the client area and follows it (WM_SIZE in the window procedure), and takes
    // the keyboard focus so that typing reaches the page without a click first.
    window_state.controller = state->controller;
    RECT bounds{};
    GetClientRect(window_state.hwnd, &bounds);
    state->controller->lpVtbl->put_Bounds(state->controller, bounds);
    state->controller->lpVtbl->put_IsVisible(state->controller, TRUE);
    state->controller->lpVtbl->MoveFocus(state->controller, MOVE_FOCUS_PROGRAMMATIC);
    // Before the first navigation, so that the first document is laid out at this zoom already;
    // the runtime keeps a factor the host set across navigations.
    if (auto zoomed =
            check(state->controller->lpVtbl->put_ZoomFactor(state->controller, zoom_factor_));
        !zoomed) {
        return std::unexpected(std::move(zoomed).error());
    }

    // First, so that it sees the failures of everything after it.
    if (page_diagnostics_) {
        if (auto added = add_script(web_view, page_diagnostics_script(DIAGNOSTICS_CHANNEL));
            !added) {
            return std::unexpected(std::move(added).error());
        }
    }
    if (auto added = add_script(web_view, ipc_script()); !added) {
        return std::unexpected(std::move(added).error());
    }
    for (const std::string& source : page_scripts_) {
        if (auto added = add_script(web_view, source); !added) {
            return std::unexpected(std::move(added).error());
        }
    }
    for (const std::string& source : top_document_scripts_) {
        if (auto added = add_script(web_view, top_document_script(source)); !added) {
            return std::unexpected(std::move(added).error());
        }
    }
    if (page_diagnostics_ || page_messages_) {
        if (auto receiving = receive_page_messages(web_view, std::move(page_diagnostics_),
                                                   std::move(page_messages_));
            !receiving) {
            return std::unexpected(std::move(receiving).error());
        }
    }

    std::vector<std::string> scheme_names;
    std::vector<Scheme> schemes;
    for (auto& [name, handler] : schemes_) {
        if (auto filtered = add_request_filter(web_view, name); !filtered) {
            return std::unexpected(std::move(filtered).error());
        }
        scheme_names.push_back(name);
        schemes.push_back(Scheme{name, handler});
    }
    if (!schemes.empty()) {
        ComPtr<ICoreWebView2WebResourceRequestedEventHandler> handler(
            make_com_object<ICoreWebView2WebResourceRequestedEventHandler>(
                RESOURCE_REQUESTED_TABLE,
                std::make_unique<ResourceRequested>(std::move(schemes), state->environment)));
        EventRegistrationToken token{};
        if (auto added =
                check(web_view->lpVtbl->add_WebResourceRequested(web_view, handler.get(), &token));
            !added) {
            return std::unexpected(std::move(added).error());
        }
    }

    if (auto downloads = query<ICoreWebView2_4>(web_view, IID_CORE_WEBVIEW2_4)) {
        ComPtr<ICoreWebView2DownloadStartingEventHandler> handler(
            make_com_object<ICoreWebView2DownloadStartingEventHandler>(
                DOWNLOAD_STARTING_TABLE, std::make_unique<DownloadStarting>()));
        EventRegistrationToken token{};
        if (auto added = check(
                downloads->lpVtbl->add_DownloadStarting(downloads.get(), handler.get(), &token));
            !added) {
            return std::unexpected(std::move(added).error());
        }
    }

    state->scheme_names = std::move(scheme_names);
    WebView built(std::move(state));
    if (!url_.empty()) {
        if (auto navigated = navigate(built, url_); !navigated) {
            return std::unexpected(std::move(navigated).error());
        }
    }
    return built;
}

Status navigate(WebView& web_view, const std::string& url) {
    const WebViewState& state = web_view.state();
    const std::wstring mapped = utf8_to_wide(to_navigation_url(url, state.scheme_names));
    return check(state.web_view->lpVtbl->Navigate(state.web_view, mapped.c_str()));
}

// The page receives it as a chrome.webview message event, which window.ipc hands to its listeners
// (ipc_script). The runtime queues messages in the order posted.
Status post_to_page(WebView& web_view, std::string_view text) {
    const WebViewState& state = web_view.state();
    const std::wstring message = utf8_to_wide(text);
    return check(state.web_view->lpVtbl->PostWebMessageAsString(state.web_view, message.c_str()));
}

Status set_zoom_factor(WebView& web_view, double factor) {
    const WebViewState& state = web_view.state();
    return check(state.controller->lpVtbl->put_ZoomFactor(state.controller, factor));
}

}  // namespace quelby::webview_host
