// The program's side of the front end's embedder (frontend_host.js): the page asks through
// window.ipc, and the answers, streamed resources and events go back through post_to_page. Only the
// window's own top-level document knows the token each request must carry.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "quelby/resources/resource_load.h"
#include "quelby/webview_host/host.h"
#include "quelby/window/page_diagnostics.h"
#include "quelby/window/settings_store.h"

namespace quelby {

// The embedder script for the top-level document, configured: only a document whose URL has
// `protocol` ("devtools:") gets the host object.
std::string frontend_host_script(std::string_view token, double zoom_factor,
                                 std::string_view protocol);

// The suggested file name for a save of `url` (its last path segment, or "download").
std::string suggested_save_name(std::string_view url);

// Base64 as the front end encodes binary saves; nullopt when the text is not base64.
std::optional<std::string> decoded_base64(std::string_view text);

class FrontendHostServices {
  public:
    // Everything runs on the loop's thread except the resource loads, whose chunks come back
    // through `poster`. `window` and the web view given to attach() must outlive the loop's run.
    FrontendHostServices(webview_host::Window& window, webview_host::LoopPoster poster,
                         SettingsStore settings, std::string token, DiagnosticSink diagnostics,
                         LoadLimits limits = {});
    FrontendHostServices(const FrontendHostServices&) = delete;
    FrontendHostServices& operator=(const FrontendHostServices&) = delete;
    // Ends the loads under way and waits for their threads.
    ~FrontendHostServices();

    void attach(webview_host::WebView& web_view) { web_view_ = &web_view; }
    // Also reports each load that succeeds, with its size and time (the switch's "requests").
    void report_every_load(bool on) { report_loads_ = on; }
    [[nodiscard]] double zoom_factor() const { return settings_.zoom_factor(); }

    // One message the page posted (any text: a message that is not a well-formed request with the
    // right token is dropped, with a diagnostic).
    void on_page_message(std::string_view text);

  private:
    struct Flow;  // chunks on their way to the page, bounded
    struct Load {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    void send(const std::string& message);
    void reply(long long id, const std::string& result_json);
    void send_event(std::string_view name, const std::string& args_json);
    void report(const std::string& text) const;
    // A settings write that failed, as one diagnostics line.
    void report_if_failed(const Status& settings_written) const;

    void load_network_resource(long long id, std::string url, std::string headers,
                               long long stream);
    void open_in_new_tab(const std::string& url);
    void open_with_desktop(const std::string& uri);
    void save(const std::string& url, const std::string& content, bool save_as, bool base64);
    void append(const std::string& url, const std::string& content);

    webview_host::Window& window_;
    webview_host::WebView* web_view_ = nullptr;
    webview_host::LoopPoster poster_;
    SettingsStore settings_;
    std::string token_;
    DiagnosticSink diagnostics_;
    LoadLimits limits_;
    bool report_loads_ = false;
    std::map<std::string, std::filesystem::path> saved_paths_;  // by the front end's URL
    std::shared_ptr<Flow> flow_;
    std::list<Load> loads_;  // last: its threads end before anything they use is released
};

}  // namespace quelby
