// The WebView2 COM interfaces this backend uses, declared by hand because the SDK is not part of
// the build. They follow the runtime's binary interface: C-style tables of function pointers in
// the runtime's slot order, so a slot's position is a compile-time fact (offsetof) that can be
// checked against the official header (webview2_sdk_check.h, with QUELBY_WEBVIEW2_SDK). Slots this
// backend never calls are kept as placeholders so that every later slot stays in place.
//
// Everything is in quelby::webview_host::webview2::own; webview2_api.h chooses between these
// declarations and the official header's.
#pragma once

#include <windows.h>
// objidl.h and eventtoken.h need windows.h first.
#include <eventtoken.h>
#include <objidl.h>

#ifndef CINTERFACE
#error "the WebView2 backend is built with CINTERFACE: COM interfaces as C-style function tables"
#endif

namespace quelby::webview_host::webview2::own {

#define QUELBY_COM_UNKNOWN_SLOTS(Self)                                                   \
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(Self * self, REFIID riid, void** object); \
    ULONG(STDMETHODCALLTYPE* AddRef)(Self * self);                                       \
    ULONG(STDMETHODCALLTYPE* Release)(Self * self)

#define QUELBY_COM_INTERFACE(Name) \
    struct Name##Vtbl;             \
    struct Name {                  \
        const Name##Vtbl* lpVtbl;  \
    }

// A slot that is never called; only its place in the table matters.
using UnusedSlot = void*;

enum COREWEBVIEW2_WEB_RESOURCE_CONTEXT { COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL = 0 };
enum COREWEBVIEW2_MOVE_FOCUS_REASON { COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC = 0 };
enum COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS {
    COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL = 0xFFFFFFFF
};

QUELBY_COM_INTERFACE(ICoreWebView2Environment);
QUELBY_COM_INTERFACE(ICoreWebView2Controller);
QUELBY_COM_INTERFACE(ICoreWebView2);
QUELBY_COM_INTERFACE(ICoreWebView2Settings);
QUELBY_COM_INTERFACE(ICoreWebView2_4);
QUELBY_COM_INTERFACE(ICoreWebView2_22);
QUELBY_COM_INTERFACE(ICoreWebView2WebResourceRequestedEventArgs);
QUELBY_COM_INTERFACE(ICoreWebView2WebResourceRequest);
QUELBY_COM_INTERFACE(ICoreWebView2WebResourceResponse);
QUELBY_COM_INTERFACE(ICoreWebView2HttpRequestHeaders);
QUELBY_COM_INTERFACE(ICoreWebView2HttpHeadersCollectionIterator);
QUELBY_COM_INTERFACE(ICoreWebView2Deferral);
QUELBY_COM_INTERFACE(ICoreWebView2DownloadStartingEventArgs);
QUELBY_COM_INTERFACE(ICoreWebView2EnvironmentOptions);
QUELBY_COM_INTERFACE(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler);
QUELBY_COM_INTERFACE(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler);
QUELBY_COM_INTERFACE(ICoreWebView2WebResourceRequestedEventHandler);
QUELBY_COM_INTERFACE(ICoreWebView2DownloadStartingEventHandler);
QUELBY_COM_INTERFACE(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler);
QUELBY_COM_INTERFACE(ICoreWebView2WebMessageReceivedEventArgs);
QUELBY_COM_INTERFACE(ICoreWebView2WebMessageReceivedEventHandler);

struct ICoreWebView2EnvironmentVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2Environment);
    HRESULT(STDMETHODCALLTYPE* CreateCoreWebView2Controller)
    (ICoreWebView2Environment* self, HWND parent_window,
     ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler);
    HRESULT(STDMETHODCALLTYPE* CreateWebResourceResponse)
    (ICoreWebView2Environment* self, IStream* content, int status_code, LPCWSTR reason_phrase,
     LPCWSTR headers, ICoreWebView2WebResourceResponse** response);
    UnusedSlot get_BrowserVersionString;
    UnusedSlot add_NewBrowserVersionAvailable;
    UnusedSlot remove_NewBrowserVersionAvailable;
};

struct ICoreWebView2ControllerVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2Controller);
    UnusedSlot get_IsVisible;
    HRESULT(STDMETHODCALLTYPE* put_IsVisible)(ICoreWebView2Controller* self, BOOL is_visible);
    UnusedSlot get_Bounds;
    HRESULT(STDMETHODCALLTYPE* put_Bounds)(ICoreWebView2Controller* self, RECT bounds);
    UnusedSlot get_ZoomFactor;
    HRESULT(STDMETHODCALLTYPE* put_ZoomFactor)(ICoreWebView2Controller* self, double zoom_factor);
    UnusedSlot add_ZoomFactorChanged;
    UnusedSlot remove_ZoomFactorChanged;
    UnusedSlot SetBoundsAndZoomFactor;
    HRESULT(STDMETHODCALLTYPE* MoveFocus)
    (ICoreWebView2Controller* self, COREWEBVIEW2_MOVE_FOCUS_REASON reason);
    UnusedSlot add_MoveFocusRequested;
    UnusedSlot remove_MoveFocusRequested;
    UnusedSlot add_GotFocus;
    UnusedSlot remove_GotFocus;
    UnusedSlot add_LostFocus;
    UnusedSlot remove_LostFocus;
    UnusedSlot add_AcceleratorKeyPressed;
    UnusedSlot remove_AcceleratorKeyPressed;
    UnusedSlot get_ParentWindow;
    UnusedSlot put_ParentWindow;
    HRESULT(STDMETHODCALLTYPE* NotifyParentWindowPositionChanged)(ICoreWebView2Controller* self);
    HRESULT(STDMETHODCALLTYPE* Close)(ICoreWebView2Controller* self);
    HRESULT(STDMETHODCALLTYPE* get_CoreWebView2)
    (ICoreWebView2Controller* self, ICoreWebView2** web_view);
};

struct ICoreWebView2SettingsVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2Settings);
    UnusedSlot get_IsScriptEnabled;
    UnusedSlot put_IsScriptEnabled;
    UnusedSlot get_IsWebMessageEnabled;
    UnusedSlot put_IsWebMessageEnabled;
    UnusedSlot get_AreDefaultScriptDialogsEnabled;
    UnusedSlot put_AreDefaultScriptDialogsEnabled;
    UnusedSlot get_IsStatusBarEnabled;
    UnusedSlot put_IsStatusBarEnabled;
    UnusedSlot get_AreDevToolsEnabled;
    HRESULT(STDMETHODCALLTYPE* put_AreDevToolsEnabled)(ICoreWebView2Settings* self, BOOL enabled);
    UnusedSlot get_AreDefaultContextMenusEnabled;
    UnusedSlot put_AreDefaultContextMenusEnabled;
    UnusedSlot get_AreHostObjectsAllowed;
    UnusedSlot put_AreHostObjectsAllowed;
    UnusedSlot get_IsZoomControlEnabled;
    HRESULT(STDMETHODCALLTYPE* put_IsZoomControlEnabled)
    (ICoreWebView2Settings* self, BOOL enabled);
    UnusedSlot get_IsBuiltInErrorPageEnabled;
    UnusedSlot put_IsBuiltInErrorPageEnabled;
};

// The slots of ICoreWebView2 itself; ICoreWebView2_4 and _22 extend the same table.
#define QUELBY_ICOREWEBVIEW2_SLOTS(Self)                                                      \
    QUELBY_COM_UNKNOWN_SLOTS(Self);                                                           \
    HRESULT(STDMETHODCALLTYPE* get_Settings)(Self * self, ICoreWebView2Settings * *settings); \
    UnusedSlot get_Source;                                                                    \
    HRESULT(STDMETHODCALLTYPE* Navigate)(Self * self, LPCWSTR uri);                           \
    UnusedSlot NavigateToString;                                                              \
    UnusedSlot add_NavigationStarting;                                                        \
    UnusedSlot remove_NavigationStarting;                                                     \
    UnusedSlot add_ContentLoading;                                                            \
    UnusedSlot remove_ContentLoading;                                                         \
    UnusedSlot add_SourceChanged;                                                             \
    UnusedSlot remove_SourceChanged;                                                          \
    UnusedSlot add_HistoryChanged;                                                            \
    UnusedSlot remove_HistoryChanged;                                                         \
    UnusedSlot add_NavigationCompleted;                                                       \
    UnusedSlot remove_NavigationCompleted;                                                    \
    UnusedSlot add_FrameNavigationStarting;                                                   \
    UnusedSlot remove_FrameNavigationStarting;                                                \
    UnusedSlot add_FrameNavigationCompleted;                                                  \
    UnusedSlot remove_FrameNavigationCompleted;                                               \
    UnusedSlot add_ScriptDialogOpening;                                                       \
    UnusedSlot remove_ScriptDialogOpening;                                                    \
    UnusedSlot add_PermissionRequested;                                                       \
    UnusedSlot remove_PermissionRequested;                                                    \
    UnusedSlot add_ProcessFailed;                                                             \
    UnusedSlot remove_ProcessFailed;                                                          \
    HRESULT(STDMETHODCALLTYPE* AddScriptToExecuteOnDocumentCreated)                           \
    (Self * self, LPCWSTR java_script,                                                        \
     ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler * handler);             \
    UnusedSlot RemoveScriptToExecuteOnDocumentCreated;                                        \
    UnusedSlot ExecuteScript;                                                                 \
    UnusedSlot CapturePreview;                                                                \
    UnusedSlot Reload;                                                                        \
    UnusedSlot PostWebMessageAsJson;                                                          \
    HRESULT(STDMETHODCALLTYPE* PostWebMessageAsString)(Self * self, LPCWSTR web_message);     \
    HRESULT(STDMETHODCALLTYPE* add_WebMessageReceived)                                        \
    (Self * self, ICoreWebView2WebMessageReceivedEventHandler * handler,                      \
     EventRegistrationToken * token);                                                         \
    UnusedSlot remove_WebMessageReceived;                                                     \
    UnusedSlot CallDevToolsProtocolMethod;                                                    \
    UnusedSlot get_BrowserProcessId;                                                          \
    UnusedSlot get_CanGoBack;                                                                 \
    UnusedSlot get_CanGoForward;                                                              \
    UnusedSlot GoBack;                                                                        \
    UnusedSlot GoForward;                                                                     \
    UnusedSlot GetDevToolsProtocolEventReceiver;                                              \
    UnusedSlot Stop;                                                                          \
    UnusedSlot add_NewWindowRequested;                                                        \
    UnusedSlot remove_NewWindowRequested;                                                     \
    UnusedSlot add_DocumentTitleChanged;                                                      \
    UnusedSlot remove_DocumentTitleChanged;                                                   \
    UnusedSlot get_DocumentTitle;                                                             \
    UnusedSlot AddHostObjectToScript;                                                         \
    UnusedSlot RemoveHostObjectFromScript;                                                    \
    UnusedSlot OpenDevToolsWindow;                                                            \
    UnusedSlot add_ContainsFullScreenElementChanged;                                          \
    UnusedSlot remove_ContainsFullScreenElementChanged;                                       \
    UnusedSlot get_ContainsFullScreenElement;                                                 \
    HRESULT(STDMETHODCALLTYPE* add_WebResourceRequested)                                      \
    (Self * self, ICoreWebView2WebResourceRequestedEventHandler * handler,                    \
     EventRegistrationToken * token);                                                         \
    UnusedSlot remove_WebResourceRequested;                                                   \
    HRESULT(STDMETHODCALLTYPE* AddWebResourceRequestedFilter)                                 \
    (Self * self, LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT resource_context);           \
    UnusedSlot RemoveWebResourceRequestedFilter;                                              \
    UnusedSlot add_WindowCloseRequested;                                                      \
    UnusedSlot remove_WindowCloseRequested

// ICoreWebView2_2 and _3, which ICoreWebView2_4 derives from: 7 and 5 slots.
#define QUELBY_ICOREWEBVIEW2_2_3_SLOTS             \
    UnusedSlot add_WebResourceResponseReceived;    \
    UnusedSlot remove_WebResourceResponseReceived; \
    UnusedSlot NavigateWithWebResourceRequest;     \
    UnusedSlot add_DOMContentLoaded;               \
    UnusedSlot remove_DOMContentLoaded;            \
    UnusedSlot get_CookieManager;                  \
    UnusedSlot get_Environment;                    \
    UnusedSlot TrySuspend;                         \
    UnusedSlot Resume;                             \
    UnusedSlot get_IsSuspended;                    \
    UnusedSlot SetVirtualHostNameToFolderMapping;  \
    UnusedSlot ClearVirtualHostNameToFolderMapping

#define QUELBY_ICOREWEBVIEW2_4_SLOTS(Self)                             \
    UnusedSlot add_FrameCreated;                                       \
    UnusedSlot remove_FrameCreated;                                    \
    HRESULT(STDMETHODCALLTYPE* add_DownloadStarting)                   \
    (Self * self, ICoreWebView2DownloadStartingEventHandler * handler, \
     EventRegistrationToken * token);                                  \
    UnusedSlot remove_DownloadStarting

struct ICoreWebView2Vtbl {
    QUELBY_ICOREWEBVIEW2_SLOTS(ICoreWebView2);
};

struct ICoreWebView2_4Vtbl {
    QUELBY_ICOREWEBVIEW2_SLOTS(ICoreWebView2_4);
    QUELBY_ICOREWEBVIEW2_2_3_SLOTS;
    QUELBY_ICOREWEBVIEW2_4_SLOTS(ICoreWebView2_4);
};

struct ICoreWebView2_22Vtbl {
    QUELBY_ICOREWEBVIEW2_SLOTS(ICoreWebView2_22);
    QUELBY_ICOREWEBVIEW2_2_3_SLOTS;
    QUELBY_ICOREWEBVIEW2_4_SLOTS(ICoreWebView2_22);
    // ICoreWebView2_5 to _21: 2 + 1 + 1 + 7 + 9 + 2 + 3 + 3 + 1 + 3 + 4 + 3 + 1 + 2 + 2 + 1 + 1.
    UnusedSlot interfaces_5_to_21[46];
    HRESULT(STDMETHODCALLTYPE* AddWebResourceRequestedFilterWithRequestSourceKinds)
    (ICoreWebView2_22* self, LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT resource_context,
     COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS request_source_kinds);
    UnusedSlot RemoveWebResourceRequestedFilterWithRequestSourceKinds;
};

struct ICoreWebView2WebResourceRequestedEventArgsVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2WebResourceRequestedEventArgs);
    HRESULT(STDMETHODCALLTYPE* get_Request)
    (ICoreWebView2WebResourceRequestedEventArgs* self, ICoreWebView2WebResourceRequest** request);
    UnusedSlot get_Response;
    HRESULT(STDMETHODCALLTYPE* put_Response)
    (ICoreWebView2WebResourceRequestedEventArgs* self, ICoreWebView2WebResourceResponse* response);
    HRESULT(STDMETHODCALLTYPE* GetDeferral)
    (ICoreWebView2WebResourceRequestedEventArgs* self, ICoreWebView2Deferral** deferral);
    UnusedSlot get_ResourceContext;
};

struct ICoreWebView2WebResourceRequestVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2WebResourceRequest);
    HRESULT(STDMETHODCALLTYPE* get_Uri)(ICoreWebView2WebResourceRequest* self, LPWSTR* uri);
    UnusedSlot put_Uri;
    HRESULT(STDMETHODCALLTYPE* get_Method)(ICoreWebView2WebResourceRequest* self, LPWSTR* method);
    UnusedSlot put_Method;
    HRESULT(STDMETHODCALLTYPE* get_Content)
    (ICoreWebView2WebResourceRequest* self, IStream** content);
    UnusedSlot put_Content;
    HRESULT(STDMETHODCALLTYPE* get_Headers)
    (ICoreWebView2WebResourceRequest* self, ICoreWebView2HttpRequestHeaders** headers);
};

struct ICoreWebView2WebResourceResponseVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2WebResourceResponse);
};

struct ICoreWebView2HttpRequestHeadersVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2HttpRequestHeaders);
    UnusedSlot GetHeader;
    UnusedSlot GetHeaders;
    UnusedSlot Contains;
    UnusedSlot SetHeader;
    UnusedSlot RemoveHeader;
    HRESULT(STDMETHODCALLTYPE* GetIterator)
    (ICoreWebView2HttpRequestHeaders* self, ICoreWebView2HttpHeadersCollectionIterator** iterator);
};

struct ICoreWebView2HttpHeadersCollectionIteratorVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2HttpHeadersCollectionIterator);
    HRESULT(STDMETHODCALLTYPE* GetCurrentHeader)
    (ICoreWebView2HttpHeadersCollectionIterator* self, LPWSTR* name, LPWSTR* value);
    HRESULT(STDMETHODCALLTYPE* get_HasCurrentHeader)
    (ICoreWebView2HttpHeadersCollectionIterator* self, BOOL* has_current);
    HRESULT(STDMETHODCALLTYPE* MoveNext)
    (ICoreWebView2HttpHeadersCollectionIterator* self, BOOL* has_next);
};

struct ICoreWebView2DeferralVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2Deferral);
    HRESULT(STDMETHODCALLTYPE* Complete)(ICoreWebView2Deferral* self);
};

struct ICoreWebView2DownloadStartingEventArgsVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2DownloadStartingEventArgs);
    UnusedSlot get_DownloadOperation;
    UnusedSlot get_Cancel;
    HRESULT(STDMETHODCALLTYPE* put_Cancel)
    (ICoreWebView2DownloadStartingEventArgs* self, BOOL cancel);
    UnusedSlot get_ResultFilePath;
    UnusedSlot put_ResultFilePath;
    UnusedSlot get_Handled;
    HRESULT(STDMETHODCALLTYPE* put_Handled)
    (ICoreWebView2DownloadStartingEventArgs* self, BOOL handled);
    UnusedSlot GetDeferral;
};

// Implemented by this backend: every slot is real.
struct ICoreWebView2EnvironmentOptionsVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2EnvironmentOptions);
    HRESULT(STDMETHODCALLTYPE* get_AdditionalBrowserArguments)
    (ICoreWebView2EnvironmentOptions* self, LPWSTR* value);
    HRESULT(STDMETHODCALLTYPE* put_AdditionalBrowserArguments)
    (ICoreWebView2EnvironmentOptions* self, LPCWSTR value);
    HRESULT(STDMETHODCALLTYPE* get_Language)(ICoreWebView2EnvironmentOptions* self, LPWSTR* value);
    HRESULT(STDMETHODCALLTYPE* put_Language)(ICoreWebView2EnvironmentOptions* self, LPCWSTR value);
    HRESULT(STDMETHODCALLTYPE* get_TargetCompatibleBrowserVersion)
    (ICoreWebView2EnvironmentOptions* self, LPWSTR* value);
    HRESULT(STDMETHODCALLTYPE* put_TargetCompatibleBrowserVersion)
    (ICoreWebView2EnvironmentOptions* self, LPCWSTR value);
    HRESULT(STDMETHODCALLTYPE* get_AllowSingleSignOnUsingOSPrimaryAccount)
    (ICoreWebView2EnvironmentOptions* self, BOOL* allow);
    HRESULT(STDMETHODCALLTYPE* put_AllowSingleSignOnUsingOSPrimaryAccount)
    (ICoreWebView2EnvironmentOptions* self, BOOL allow);
};

struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandlerVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* self, HRESULT error_code,
     ICoreWebView2Environment* environment);
};

struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandlerVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* self, HRESULT error_code,
     ICoreWebView2Controller* controller);
};

struct ICoreWebView2WebResourceRequestedEventHandlerVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2WebResourceRequestedEventHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (ICoreWebView2WebResourceRequestedEventHandler* self, ICoreWebView2* sender,
     ICoreWebView2WebResourceRequestedEventArgs* args);
};

struct ICoreWebView2DownloadStartingEventHandlerVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2DownloadStartingEventHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (ICoreWebView2DownloadStartingEventHandler* self, ICoreWebView2* sender,
     ICoreWebView2DownloadStartingEventArgs* args);
};

struct ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandlerVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* self, HRESULT error_code,
     LPCWSTR id);
};

struct ICoreWebView2WebMessageReceivedEventArgsVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2WebMessageReceivedEventArgs);
    UnusedSlot get_Source;
    UnusedSlot get_WebMessageAsJson;
    HRESULT(STDMETHODCALLTYPE* TryGetWebMessageAsString)
    (ICoreWebView2WebMessageReceivedEventArgs* self, LPWSTR* message);
};

struct ICoreWebView2WebMessageReceivedEventHandlerVtbl {
    QUELBY_COM_UNKNOWN_SLOTS(ICoreWebView2WebMessageReceivedEventHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (ICoreWebView2WebMessageReceivedEventHandler* self, ICoreWebView2* sender,
     ICoreWebView2WebMessageReceivedEventArgs* args);
};

#undef QUELBY_ICOREWEBVIEW2_4_SLOTS
#undef QUELBY_ICOREWEBVIEW2_2_3_SLOTS
#undef QUELBY_ICOREWEBVIEW2_SLOTS
#undef QUELBY_COM_INTERFACE
#undef QUELBY_COM_UNKNOWN_SLOTS

}  // namespace quelby::webview_host::webview2::own
