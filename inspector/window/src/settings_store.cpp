#include "quelby/window/settings_store.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "quelby/core/environment.h"
#include "quelby/core/utf8_path.h"
#include "quelby/resources/random_token.h"

namespace quelby {

namespace {

constexpr double MIN_ZOOM = 0.25;
constexpr double MAX_ZOOM = 5.0;
// Files this large are not settings; reading them whole would only cost memory.
constexpr std::uintmax_t MAX_SETTINGS_BYTES = std::uintmax_t{64} << 20U;

double clamped_zoom(double factor) {
    return std::isfinite(factor) ? std::clamp(factor, MIN_ZOOM, MAX_ZOOM) : 1.0;
}

Result<std::string> read_whole(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error) {
        return std::unexpected(ErrorChain::from_message(error.message()));
    }
    if (size > MAX_SETTINGS_BYTES) {
        return std::unexpected(ErrorChain::from_message("the file is too large to be settings"));
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::unexpected(ErrorChain::from_message("the file cannot be opened"));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        return std::unexpected(ErrorChain::from_message("the file cannot be read"));
    }
    return text.str();
}

}  // namespace

SettingsStore SettingsStore::open(std::optional<std::filesystem::path> file,
                                  const DiagnosticSink& diagnostics) {
    SettingsStore store;
    store.file_ = std::move(file);
    if (!store.file_) {
        return store;
    }
    std::error_code error;
    if (!std::filesystem::exists(*store.file_, error) && !error) {
        return store;
    }
    store.fresh_ = false;
    const std::string where = utf8_of(*store.file_);
    auto text = read_whole(*store.file_);
    if (!text) {
        if (diagnostics) {
            diagnostics("settings: " + where + " cannot be read (" +
                        text.error().messages().front() + "); using the defaults");
        }
        return store;
    }
    const auto json = nlohmann::json::parse(*text, nullptr, false);
    const bool usable =
        json.is_object() && (!json.contains("preferences") || json["preferences"].is_object());
    if (!usable) {
        std::filesystem::path kept = *store.file_;
        kept += ".corrupt";
        std::filesystem::rename(*store.file_, kept, error);
        if (diagnostics) {
            diagnostics("settings: " + where + " is not a settings file; using the defaults" +
                        (error ? std::string() : " (kept as " + utf8_of(kept) + ")"));
        }
        return store;
    }
    if (json.contains("preferences")) {
        for (const auto& [name, value] : json["preferences"].items()) {
            if (value.is_string()) {
                store.preferences_[name] = value.get<std::string>();
            }
        }
    }
    if (const auto zoom = json.find("zoomFactor"); zoom != json.end() && zoom->is_number()) {
        store.zoom_factor_ = clamped_zoom(zoom->get<double>());
    }
    return store;
}

Status SettingsStore::set_preference(const std::string& name, const std::string& value) {
    preferences_[name] = value;
    return write();
}

Status SettingsStore::remove_preference(const std::string& name) {
    if (preferences_.erase(name) == 0) {
        return {};
    }
    return write();
}

Status SettingsStore::clear_preferences() {
    preferences_.clear();
    return write();
}

Status SettingsStore::set_zoom_factor(double factor) {
    zoom_factor_ = clamped_zoom(factor);
    return write();
}

Status SettingsStore::write() const {
    if (!file_) {
        return {};
    }
    nlohmann::json json = {{"preferences", preferences_}, {"zoomFactor", zoom_factor_}};
    // Text from the page may be any string; broken UTF-8 becomes U+FFFD rather than an exception.
    const std::string text =
        json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::error_code error;
    std::filesystem::create_directories(file_->parent_path(), error);
    // A name of this write's own: two windows writing at once never share a half-written file.
    std::filesystem::path temporary = *file_;
    temporary += ".new-" + random_token();
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::filesystem::remove(temporary, error);
            return std::unexpected(ErrorChain::from_message("cannot write " + utf8_of(temporary)));
        }
    }
    std::filesystem::rename(temporary, *file_, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return std::unexpected(
            ErrorChain::from_message("cannot replace " + utf8_of(*file_) + ": " + error.message()));
    }
    return {};
}

}  // namespace quelby
