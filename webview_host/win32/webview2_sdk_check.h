// Compiled only with the official WebView2 header (QUELBY_WEBVIEW2_SDK): proves at compile time
// that our own declarations (webview2_abi.h) put every method this backend calls or implements in
// the same slot as the SDK's C-style tables, and that each fully declared table has the SDK's
// size, and that the methods whose parameters are plain types take the SDK's. A mismatch fails the
// build with the interface and method named.
#pragma once

#include <cstddef>
#include <type_traits>

#include "webview2_abi.h"

namespace quelby::webview_host::webview2::sdk_check {

#define QUELBY_SAME_SLOT(Interface, Method)                                                      \
    static_assert(offsetof(::Interface##Vtbl, Method) == offsetof(own::Interface##Vtbl, Method), \
                  "our " #Interface "::" #Method " is not in the SDK's slot")

// A method's type without its `self`, which names each side's own interface type.
template <class Method>
struct WithoutSelf;
template <class Return, class Self, class... Parameters>
struct WithoutSelf<Return(STDMETHODCALLTYPE*)(Self*, Parameters...)> {
    using type = Return(Parameters...);
};

#define QUELBY_SAME_PARAMETERS(Interface, Method)                                            \
    static_assert(std::is_same_v<WithoutSelf<decltype(::Interface##Vtbl::Method)>::type,     \
                                 WithoutSelf<decltype(own::Interface##Vtbl::Method)>::type>, \
                  "our " #Interface "::" #Method " does not take the SDK's parameters")

#define QUELBY_SAME_TABLE(Interface)                                         \
    static_assert(sizeof(::Interface##Vtbl) == sizeof(own::Interface##Vtbl), \
                  "our " #Interface " table does not have the SDK's number of slots")

QUELBY_SAME_TABLE(ICoreWebView2Environment);
QUELBY_SAME_SLOT(ICoreWebView2Environment, CreateCoreWebView2Controller);
QUELBY_SAME_SLOT(ICoreWebView2Environment, CreateWebResourceResponse);

QUELBY_SAME_TABLE(ICoreWebView2Controller);
QUELBY_SAME_SLOT(ICoreWebView2Controller, put_IsVisible);
QUELBY_SAME_SLOT(ICoreWebView2Controller, put_Bounds);
QUELBY_SAME_SLOT(ICoreWebView2Controller, put_ZoomFactor);
QUELBY_SAME_PARAMETERS(ICoreWebView2Controller, put_IsVisible);
QUELBY_SAME_PARAMETERS(ICoreWebView2Controller, put_Bounds);
QUELBY_SAME_PARAMETERS(ICoreWebView2Controller, put_ZoomFactor);
QUELBY_SAME_SLOT(ICoreWebView2Controller, NotifyParentWindowPositionChanged);
QUELBY_SAME_SLOT(ICoreWebView2Controller, Close);
QUELBY_SAME_SLOT(ICoreWebView2Controller, get_CoreWebView2);
QUELBY_SAME_SLOT(ICoreWebView2Controller, MoveFocus);

QUELBY_SAME_TABLE(ICoreWebView2Settings);
QUELBY_SAME_SLOT(ICoreWebView2Settings, put_AreDevToolsEnabled);
QUELBY_SAME_SLOT(ICoreWebView2Settings, put_IsZoomControlEnabled);
QUELBY_SAME_PARAMETERS(ICoreWebView2Settings, put_AreDevToolsEnabled);
QUELBY_SAME_PARAMETERS(ICoreWebView2Settings, put_IsZoomControlEnabled);

QUELBY_SAME_TABLE(ICoreWebView2);
QUELBY_SAME_SLOT(ICoreWebView2, get_Settings);
QUELBY_SAME_SLOT(ICoreWebView2, Navigate);
QUELBY_SAME_SLOT(ICoreWebView2, AddScriptToExecuteOnDocumentCreated);
QUELBY_SAME_SLOT(ICoreWebView2, PostWebMessageAsString);
QUELBY_SAME_PARAMETERS(ICoreWebView2, Navigate);
QUELBY_SAME_PARAMETERS(ICoreWebView2, PostWebMessageAsString);
QUELBY_SAME_SLOT(ICoreWebView2, add_WebResourceRequested);
QUELBY_SAME_SLOT(ICoreWebView2, AddWebResourceRequestedFilter);

QUELBY_SAME_TABLE(ICoreWebView2_4);
QUELBY_SAME_SLOT(ICoreWebView2_4, add_DownloadStarting);
QUELBY_SAME_SLOT(ICoreWebView2, add_WebMessageReceived);
QUELBY_SAME_SLOT(ICoreWebView2WebMessageReceivedEventArgs, TryGetWebMessageAsString);
QUELBY_SAME_SLOT(ICoreWebView2WebMessageReceivedEventHandler, Invoke);

QUELBY_SAME_TABLE(ICoreWebView2_22);
QUELBY_SAME_SLOT(ICoreWebView2_22, AddWebResourceRequestedFilterWithRequestSourceKinds);

QUELBY_SAME_TABLE(ICoreWebView2WebResourceRequestedEventArgs);
QUELBY_SAME_SLOT(ICoreWebView2WebResourceRequestedEventArgs, get_Request);
QUELBY_SAME_SLOT(ICoreWebView2WebResourceRequestedEventArgs, put_Response);
QUELBY_SAME_SLOT(ICoreWebView2WebResourceRequestedEventArgs, GetDeferral);

QUELBY_SAME_TABLE(ICoreWebView2WebResourceRequest);
QUELBY_SAME_SLOT(ICoreWebView2WebResourceRequest, get_Uri);
QUELBY_SAME_SLOT(ICoreWebView2WebResourceRequest, get_Method);
QUELBY_SAME_SLOT(ICoreWebView2WebResourceRequest, get_Content);
QUELBY_SAME_SLOT(ICoreWebView2WebResourceRequest, get_Headers);

QUELBY_SAME_TABLE(ICoreWebView2HttpRequestHeaders);
QUELBY_SAME_SLOT(ICoreWebView2HttpRequestHeaders, GetIterator);

QUELBY_SAME_TABLE(ICoreWebView2HttpHeadersCollectionIterator);
QUELBY_SAME_SLOT(ICoreWebView2HttpHeadersCollectionIterator, GetCurrentHeader);
QUELBY_SAME_SLOT(ICoreWebView2HttpHeadersCollectionIterator, get_HasCurrentHeader);
QUELBY_SAME_SLOT(ICoreWebView2HttpHeadersCollectionIterator, MoveNext);

QUELBY_SAME_TABLE(ICoreWebView2Deferral);
QUELBY_SAME_SLOT(ICoreWebView2Deferral, Complete);

QUELBY_SAME_TABLE(ICoreWebView2DownloadStartingEventArgs);
QUELBY_SAME_SLOT(ICoreWebView2DownloadStartingEventArgs, put_Cancel);
QUELBY_SAME_SLOT(ICoreWebView2DownloadStartingEventArgs, put_Handled);

QUELBY_SAME_TABLE(ICoreWebView2EnvironmentOptions);
QUELBY_SAME_SLOT(ICoreWebView2EnvironmentOptions, get_AdditionalBrowserArguments);
QUELBY_SAME_SLOT(ICoreWebView2EnvironmentOptions, put_AdditionalBrowserArguments);
QUELBY_SAME_SLOT(ICoreWebView2EnvironmentOptions, get_Language);
QUELBY_SAME_SLOT(ICoreWebView2EnvironmentOptions, put_Language);
QUELBY_SAME_SLOT(ICoreWebView2EnvironmentOptions, get_TargetCompatibleBrowserVersion);
QUELBY_SAME_SLOT(ICoreWebView2EnvironmentOptions, put_TargetCompatibleBrowserVersion);
QUELBY_SAME_SLOT(ICoreWebView2EnvironmentOptions, get_AllowSingleSignOnUsingOSPrimaryAccount);
QUELBY_SAME_SLOT(ICoreWebView2EnvironmentOptions, put_AllowSingleSignOnUsingOSPrimaryAccount);

QUELBY_SAME_TABLE(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler);
QUELBY_SAME_SLOT(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, Invoke);
QUELBY_SAME_TABLE(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler);
QUELBY_SAME_SLOT(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, Invoke);
QUELBY_SAME_TABLE(ICoreWebView2WebResourceRequestedEventHandler);
QUELBY_SAME_SLOT(ICoreWebView2WebResourceRequestedEventHandler, Invoke);
QUELBY_SAME_TABLE(ICoreWebView2DownloadStartingEventHandler);
QUELBY_SAME_SLOT(ICoreWebView2DownloadStartingEventHandler, Invoke);

static_assert(static_cast<int>(::COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL) ==
              static_cast<int>(own::COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL));
static_assert(static_cast<unsigned>(::COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL) ==
              static_cast<unsigned>(own::COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL));

static_assert(static_cast<int>(::COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC) ==
              static_cast<int>(own::COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC));

#undef QUELBY_SAME_TABLE
#undef QUELBY_SAME_PARAMETERS
#undef QUELBY_SAME_SLOT

}  // namespace quelby::webview_host::webview2::sdk_check
