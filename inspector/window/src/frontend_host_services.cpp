#include "quelby/window/frontend_host_services.h"

#include <array>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>

#include "quelby/core/ascii_text.h"
#include "quelby/core/utf8_path.h"
#include "quelby/resources/file_url.h"
#include "quelby/resources/frontend_host_script.h"

namespace quelby {

namespace {

namespace host = webview_host;
using nlohmann::json;

// Chunks may wait for the page up to this many at a time: a fast disk does not fill memory faster
// than the page takes the text in.
constexpr int MAX_CHUNKS_IN_FLIGHT = 4;

std::string dumped(const json& value) {
    // Text from files and the page may be any bytes; broken UTF-8 becomes U+FFFD.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

json load_status(const LoadOutcome& outcome) {
    json status = {{"statusCode", outcome.status_code}, {"headers", json::object()}};
    if (!outcome.succeeded()) {
        status["netError"] = outcome.net_error;
        status["netErrorName"] = outcome.net_error_name;
    }
    return status;
}

bool is_web_link(std::string_view url) {
    return starts_with_ignoring_ascii_case(url, "http://") ||
           starts_with_ignoring_ascii_case(url, "https://");
}

}  // namespace

struct FrontendHostServices::Flow {
    std::mutex mutex;
    std::condition_variable_any drained;
    int in_flight = 0;
};

std::string frontend_host_script(std::string_view token, double zoom_factor,
                                 std::string_view protocol) {
    return frontend_host_call(
        dumped({{"token", token}, {"zoomFactor", zoom_factor}, {"protocol", protocol}}));
}

std::string suggested_save_name(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    if (const std::size_t slash = url.find_last_of("/\\"); slash != std::string_view::npos) {
        url = url.substr(slash + 1);
    }
    std::string name;
    for (const char c : url) {
        // Control characters and the separators no file system takes.
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && c != ':' && c != '*' &&
            c != '?' && c != '"' && c != '<' && c != '>' && c != '|') {
            name.push_back(c);
        }
    }
    return name.empty() || name == "." || name == ".." ? "download" : name;
}

std::optional<std::string> decoded_base64(std::string_view text) {
    std::string out;
    unsigned bits = 0;
    int count = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        int value = -1;
        if (c >= 'A' && c <= 'Z') {
            value = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            value = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            value = c - '0' + 52;
        } else if (c == '+') {
            value = 62;
        } else if (c == '/') {
            value = 63;
        } else if (c == '=') {
            ++padding;
            continue;
        } else {
            return std::nullopt;
        }
        if (padding > 0) {
            return std::nullopt;  // data after the padding
        }
        bits = (bits << 6U) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> static_cast<unsigned>(count)) & 0xFFU));
        }
    }
    if (padding > 2 || count >= 6) {
        return std::nullopt;
    }
    return out;
}

FrontendHostServices::FrontendHostServices(host::Window& window, host::LoopPoster poster,
                                           SettingsStore settings, std::string token,
                                           DiagnosticSink diagnostics, LoadLimits limits)
    : window_(window),
      poster_(std::move(poster)),
      settings_(std::move(settings)),
      token_(std::move(token)),
      diagnostics_(std::move(diagnostics)),
      limits_(limits),
      flow_(std::make_shared<Flow>()) {}

FrontendHostServices::~FrontendHostServices() {
    for (Load& load : loads_) {
        load.thread.request_stop();
    }
    loads_.clear();  // joins
}

void FrontendHostServices::report(const std::string& text) const {
    if (diagnostics_) {
        diagnostics_("host: " + text);
    }
}

void FrontendHostServices::report_if_failed(const Status& settings_written) const {
    if (!settings_written) {
        report("settings: " + settings_written.error().messages().front());
    }
}

void FrontendHostServices::send(const std::string& message) {
    if (web_view_ != nullptr) {
        static_cast<void>(host::post_to_page(*web_view_, message));
    }
}

void FrontendHostServices::reply(long long id, const std::string& result_json) {
    send(R"({"id":)" + std::to_string(id) + R"(,"result":)" + result_json + "}");
}

void FrontendHostServices::send_event(std::string_view name, const std::string& args_json) {
    send(R"({"event":)" + dumped(json(name)) + R"(,"args":)" + args_json + "}");
}

void FrontendHostServices::on_page_message(std::string_view text) {
    const json message = json::parse(text, nullptr, false);
    if (!message.is_object() || !message.contains("token") || !message["token"].is_string() ||
        message["token"].get_ref<const std::string&>() != token_) {
        report("ignored a page message that is not the front end's");
        return;
    }
    // Checked before use: a field of another type would throw out of the engine's callback.
    const auto method_field = message.find("method");
    const auto id_field = message.find("id");
    const auto args_field = message.find("args");
    if (method_field == message.end() || !method_field->is_string() ||
        (id_field != message.end() && !id_field->is_number_integer()) ||
        (args_field != message.end() && !args_field->is_array())) {
        report("ignored a malformed request from the front end");
        return;
    }
    const std::string& method = method_field->get_ref<const std::string&>();
    const json args = args_field != message.end() ? *args_field : json::array();
    const long long id = id_field != message.end() ? id_field->get<long long>() : 0;
    const auto text_arg = [&](std::size_t i) {
        return i < args.size() && args[i].is_string() ? args[i].get<std::string>() : std::string();
    };
    const auto flag_arg = [&](std::size_t i) {
        return i < args.size() && args[i].is_boolean() && args[i].get<bool>();
    };
    if (method == "loadNetworkResource") {
        const long long stream =
            args.size() > 2 && args[2].is_number_integer() ? args[2].get<long long>() : 0;
        load_network_resource(id, text_arg(0), text_arg(1), stream);
    } else if (method == "getPreferences") {
        reply(id,
              dumped(json{{"preferences", settings_.preferences()}, {"fresh", settings_.fresh()}}));
    } else if (method == "setPreference") {
        report_if_failed(settings_.set_preference(text_arg(0), text_arg(1)));
    } else if (method == "removePreference") {
        report_if_failed(settings_.remove_preference(text_arg(0)));
    } else if (method == "clearPreferences") {
        report_if_failed(settings_.clear_preferences());
    } else if (method == "setZoomFactor") {
        if (!args.empty() && args[0].is_number()) {
            report_if_failed(settings_.set_zoom_factor(args[0].get<double>()));
            if (web_view_ != nullptr) {
                static_cast<void>(host::set_zoom_factor(*web_view_, settings_.zoom_factor()));
            }
        }
    } else if (method == "openInNewTab") {
        open_in_new_tab(text_arg(0));
    } else if (method == "showItemInFolder") {
        const std::filesystem::path path = path_of_utf8(text_arg(0));
        if (path.is_absolute()) {
            open_with_desktop(file_url_of(path.parent_path()));
        }
    } else if (method == "save") {
        // The dialog runs its own loop: not inside the engine's message callback.
        static_cast<void>(
            poster_.post([this, url = text_arg(0), content = text_arg(1), save_as = flag_arg(2),
                          base64 = flag_arg(3)] { save(url, content, save_as, base64); }));
    } else if (method == "append") {
        append(text_arg(0), text_arg(1));
    } else if (method == "close") {
        // Every write is complete when it returns: nothing is left to flush.
    } else {
        report("unknown request from the front end: " + method);
    }
}

void FrontendHostServices::open_in_new_tab(const std::string& url) {
    // A file: link from the debuggee's output would hand a local file to its default application.
    if (!is_web_link(url)) {
        report("refused to open " + url + ": only http and https links open in the browser");
        return;
    }
    open_with_desktop(url);
}

void FrontendHostServices::open_with_desktop(const std::string& url) {
    if (auto opened = host::open_with_default_application(window_, url); !opened) {
        report("cannot open " + url + ": " + opened.error().messages().front());
    }
}

void FrontendHostServices::load_network_resource(long long id, std::string url, std::string headers,
                                                 long long stream) {
    std::erase_if(loads_, [](const Load& load) { return load.finished->load(); });
    auto finished = std::make_shared<std::atomic<bool>>(false);
    // The thread hands every chunk and the outcome to the loop's thread; a refused post means the
    // window is gone, and the load ends.
    std::jthread thread([this, id, url = std::move(url), headers = std::move(headers), stream,
                         flow = flow_, poster = poster_, finished](std::stop_token stop) {
        const auto sink = [&](const std::string& chunk) {
            {
                std::unique_lock lock(flow->mutex);
                if (!flow->drained.wait(lock, stop,
                                        [&] { return flow->in_flight < MAX_CHUNKS_IN_FLIGHT; })) {
                    return false;
                }
                ++flow->in_flight;
            }
            std::string message = R"({"stream":)" + std::to_string(stream) + R"(,"chunk":)" +
                                  dumped(json(chunk)) + "}";
            const bool posted = poster.post([this, flow, message = std::move(message)] {
                send(message);
                const std::lock_guard lock(flow->mutex);
                --flow->in_flight;
                flow->drained.notify_all();
            });
            if (!posted) {
                const std::lock_guard lock(flow->mutex);
                --flow->in_flight;
            }
            return posted;
        };
        const auto started = std::chrono::steady_clock::now();
        std::size_t bytes = 0;
        const LoadOutcome outcome = load_resource(
            url, headers, limits_,
            [&](const std::string& chunk) {
                bytes += chunk.size();
                return sink(chunk);
            },
            stop);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        static_cast<void>(poster.post([this, id, url, bytes, took, outcome] {
            if (!outcome.succeeded()) {
                report("cannot load " + url + ": " + outcome.net_error_name);
            } else if (report_loads_) {
                report("loaded " + url + " (" + std::to_string(bytes) + " bytes in " +
                       std::to_string(took.count()) + " ms)");
            }
            reply(id, dumped(load_status(outcome)));
        }));
        finished->store(true);
    });
    loads_.push_back(Load{.thread = std::move(thread), .finished = std::move(finished)});
}

void FrontendHostServices::save(const std::string& url, const std::string& content, bool save_as,
                                bool base64) {
    std::filesystem::path path;
    if (const auto known = saved_paths_.find(url); known != saved_paths_.end() && !save_as) {
        path = known->second;
    } else {
        auto chosen = host::ask_save_path(window_, suggested_save_name(url));
        if (!chosen || !*chosen) {
            if (!chosen) {
                report("the Save dialog failed: " + chosen.error().messages().front());
            }
            send_event("canceledSaveURL", dumped(json::array({url})));
            return;
        }
        path = **chosen;
    }
    const std::optional<std::string> bytes =
        base64 ? decoded_base64(content) : std::optional<std::string>(content);
    bool written = false;
    if (bytes) {  // content that cannot be decoded must not empty the file chosen
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << *bytes;
        out.close();
        written = static_cast<bool>(out);
    }
    if (!written) {
        saved_paths_.erase(url);
        report("cannot save " + utf8_of(path));
        send(dumped(json{{"alert", "Could not save " + utf8_of(path) +
                                       (bytes ? "." : ": the content is not valid base64.")}}));
        send_event("canceledSaveURL", dumped(json::array({url})));
        return;
    }
    saved_paths_[url] = path;
    send_event("savedURL", dumped(json::array({url, utf8_of(path)})));
}

void FrontendHostServices::append(const std::string& url, const std::string& content) {
    const auto known = saved_paths_.find(url);
    if (known == saved_paths_.end()) {
        report("append to " + url + ", which was not saved");
        return;
    }
    std::ofstream out(known->second, std::ios::binary | std::ios::app);
    out << content;
    out.close();
    if (!out) {
        report("cannot append to " + utf8_of(known->second));
        send(dumped(json{{"alert", "Could not write to " + utf8_of(known->second) + "."}}));
        saved_paths_.erase(known);
        return;
    }
    send_event("appendedToURL", dumped(json::array({url})));
}

}  // namespace quelby
