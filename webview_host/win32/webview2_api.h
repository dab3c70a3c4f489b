// The WebView2 interfaces as the backend sees them: the official SDK header's when the build has
// it (QUELBY_WEBVIEW2_SDK, compiled as C-style interfaces), otherwise our own declarations; the
// backend's code reads the same either way. With the SDK, webview2_sdk_check.h proves slot by slot
// that our declarations agree with it.
#pragma once

#include <algorithm>
#include <iterator>

#include "webview2_abi.h"

#if defined(QUELBY_WEBVIEW2_SDK)
#include <WebView2.h>

#include "webview2_sdk_check.h"
#endif

namespace quelby::webview_host::webview2 {

#if defined(QUELBY_WEBVIEW2_SDK)
#define QUELBY_WEBVIEW2_NS
#else
#define QUELBY_WEBVIEW2_NS own
#endif

using QUELBY_WEBVIEW2_NS::COREWEBVIEW2_MOVE_FOCUS_REASON;
using QUELBY_WEBVIEW2_NS::COREWEBVIEW2_WEB_RESOURCE_CONTEXT;
using QUELBY_WEBVIEW2_NS::COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS;
using QUELBY_WEBVIEW2_NS::ICoreWebView2;
using QUELBY_WEBVIEW2_NS::ICoreWebView2_22;
using QUELBY_WEBVIEW2_NS::ICoreWebView2_4;
using QUELBY_WEBVIEW2_NS::ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler;
using QUELBY_WEBVIEW2_NS::ICoreWebView2Controller;
using QUELBY_WEBVIEW2_NS::ICoreWebView2CreateCoreWebView2ControllerCompletedHandler;
using QUELBY_WEBVIEW2_NS::ICoreWebView2CreateCoreWebView2ControllerCompletedHandlerVtbl;
using QUELBY_WEBVIEW2_NS::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;
using QUELBY_WEBVIEW2_NS::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandlerVtbl;
using QUELBY_WEBVIEW2_NS::ICoreWebView2Deferral;
using QUELBY_WEBVIEW2_NS::ICoreWebView2DownloadStartingEventArgs;
using QUELBY_WEBVIEW2_NS::ICoreWebView2DownloadStartingEventHandler;
using QUELBY_WEBVIEW2_NS::ICoreWebView2DownloadStartingEventHandlerVtbl;
using QUELBY_WEBVIEW2_NS::ICoreWebView2Environment;
using QUELBY_WEBVIEW2_NS::ICoreWebView2EnvironmentOptions;
using QUELBY_WEBVIEW2_NS::ICoreWebView2EnvironmentOptionsVtbl;
using QUELBY_WEBVIEW2_NS::ICoreWebView2HttpHeadersCollectionIterator;
using QUELBY_WEBVIEW2_NS::ICoreWebView2HttpRequestHeaders;
using QUELBY_WEBVIEW2_NS::ICoreWebView2Settings;
using QUELBY_WEBVIEW2_NS::ICoreWebView2WebMessageReceivedEventArgs;
using QUELBY_WEBVIEW2_NS::ICoreWebView2WebMessageReceivedEventHandler;
using QUELBY_WEBVIEW2_NS::ICoreWebView2WebMessageReceivedEventHandlerVtbl;
using QUELBY_WEBVIEW2_NS::ICoreWebView2WebResourceRequest;
using QUELBY_WEBVIEW2_NS::ICoreWebView2WebResourceRequestedEventArgs;
using QUELBY_WEBVIEW2_NS::ICoreWebView2WebResourceRequestedEventHandler;
using QUELBY_WEBVIEW2_NS::ICoreWebView2WebResourceRequestedEventHandlerVtbl;
using QUELBY_WEBVIEW2_NS::ICoreWebView2WebResourceResponse;

#undef QUELBY_WEBVIEW2_NS

inline constexpr auto WEB_RESOURCE_CONTEXT_ALL = static_cast<COREWEBVIEW2_WEB_RESOURCE_CONTEXT>(0);
inline constexpr auto MOVE_FOCUS_PROGRAMMATIC = static_cast<COREWEBVIEW2_MOVE_FOCUS_REASON>(0);
inline constexpr auto REQUEST_SOURCE_KINDS_ALL =
    static_cast<COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS>(0xFFFFFFFF);

// Interface identifiers, as the runtime's QueryInterface knows them.
inline constexpr IID IID_CORE_WEBVIEW2_4{
    0x20D02D59, 0x6DF2, 0x42DC, {0xBD, 0x06, 0xF9, 0x8A, 0x69, 0x4B, 0x13, 0x02}};
inline constexpr IID IID_CORE_WEBVIEW2_22{
    0xDB75DFC7, 0xA857, 0x4632, {0xA3, 0x98, 0x69, 0x69, 0xDD, 0xE2, 0x6C, 0x0A}};
inline constexpr IID IID_ENVIRONMENT_OPTIONS{
    0x2FDE08A8, 0x1E9A, 0x4766, {0x8C, 0x05, 0x95, 0xA9, 0xCE, 0xB9, 0xD1, 0xC5}};
inline constexpr IID IID_ENVIRONMENT_COMPLETED_HANDLER{
    0x4E8A3389, 0xC9D8, 0x4BD2, {0xB6, 0xB5, 0x12, 0x4F, 0xEE, 0x6C, 0xC1, 0x4D}};
inline constexpr IID IID_CONTROLLER_COMPLETED_HANDLER{
    0x6C4819F3, 0xC9B7, 0x4260, {0x81, 0x27, 0xC9, 0xF5, 0xBD, 0xE7, 0xF6, 0x8C}};
inline constexpr IID IID_WEB_RESOURCE_REQUESTED_HANDLER{
    0xAB00B74C, 0x15F1, 0x4646, {0x80, 0xE8, 0xE7, 0x63, 0x41, 0xD2, 0x5D, 0x71}};
inline constexpr IID IID_DOWNLOAD_STARTING_HANDLER{
    0xEFEDC989, 0xC396, 0x41CA, {0x83, 0xF7, 0x07, 0xF8, 0x45, 0xA5, 0x57, 0x24}};
inline constexpr IID IID_WEB_MESSAGE_RECEIVED_HANDLER{
    0x57213F19, 0x00E6, 0x49FA, {0x8E, 0x07, 0x89, 0x8E, 0xA0, 0x1E, 0xCB, 0xD2}};

// The system's identifiers this backend answers to, spelled out so that no import library of
// GUIDs is needed.
inline constexpr IID IID_UNKNOWN{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_SEQUENTIAL_STREAM{
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr IID IID_STREAM{
    0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_AGILE_OBJECT{
    0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};

inline bool same_iid(REFIID a, const IID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::equal(std::begin(a.Data4), std::end(a.Data4), std::begin(b.Data4));
}

}  // namespace quelby::webview_host::webview2
