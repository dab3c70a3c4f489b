#include "quelby/discovery/target_list_json.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

#include "quelby/core/ascii_text.h"
#include "quelby/core/quoted_text.h"
#include "quelby/discovery/ws_target.h"

namespace quelby {
namespace {

// The members of one target that the selection and its report use; a later duplicate of a key
// wins, as in a parsed tree, and a value that is not a string leaves the member unset.
struct TargetFields {
    std::size_t index = 0;
    std::optional<std::string> id;
    std::optional<std::string> type;
    std::optional<std::string> title;
    std::optional<std::string> url;
    std::optional<std::string> ws_url;
};

// How many targets a no-match report lists, and how much of each text it shows.
constexpr std::size_t LISTED_TARGETS = 100;
constexpr std::size_t LISTED_TEXT_BYTES = 200;

bool contains_ignoring_ascii_case(std::string_view text, std::string_view part) {
    const auto same = [](char a, char b) { return ascii_lower(a) == ascii_lower(b); };
    return !std::ranges::search(text, part, same).empty() || part.empty();
}

// A member as one report line shows it: quoted, escaped, and cut after LISTED_TEXT_BYTES.
std::string listed(const std::optional<std::string>& text) {
    if (!text) {
        return "(none)";
    }
    std::string shown = "\"";
    shown += quote_peer_text(std::string_view(*text).substr(0, LISTED_TEXT_BYTES), Layout::Escape);
    if (text->size() > LISTED_TEXT_BYTES) {
        shown += "…";
    }
    shown += '"';
    return shown;
}

// The target a selector names: a zero-based index, else an id, else text in the title or url;
// without a selector, the first target. Targets are seen one at a time and only the candidates are
// kept, so memory stays within a few times the body whatever the list holds.
class TargetChoice {
  public:
    explicit TargetChoice(std::optional<std::string> selector) : selector_(std::move(selector)) {
        if (!selector_ || selector_->empty()) {
            selector_.reset();
            index_ = 0;
            return;
        }
        index_ = parse_decimal(*selector_, std::numeric_limits<std::size_t>::max());
    }

    // Every element of the root array, in order; `fields` is nullopt for one that is no object.
    void add(std::optional<TargetFields> fields, std::size_t index) {
        if (index == index_) {
            by_index_ = fields;
        }
        if (!fields || !selector_) {
            return;
        }
        if (!by_id_ && fields->id == *selector_) {
            by_id_ = fields;
        }
        if (!by_text_ &&
            ((fields->title && contains_ignoring_ascii_case(*fields->title, *selector_)) ||
             (fields->url && contains_ignoring_ascii_case(*fields->url, *selector_)))) {
            by_text_ = fields;
        }
        if (listing_lines_ < LISTED_TARGETS) {
            for (const std::string& piece :
                 {std::string("\n"), std::to_string(index), std::string(": id "),
                  listed(fields->id), std::string(", type "), listed(fields->type),
                  std::string(", title "), listed(fields->title), std::string(", url "),
                  listed(fields->url)}) {
                listing_ += piece;
            }
            ++listing_lines_;
        } else {
            ++unlisted_;
        }
    }

    // The chosen target; nullopt when nothing matches (or the first element is no object).
    [[nodiscard]] const std::optional<TargetFields>& chosen() const {
        if (by_index_) {
            return by_index_;
        }
        return by_id_ ? by_id_ : by_text_;
    }
    [[nodiscard]] bool selected_by_user() const { return selector_.has_value(); }

    // "no target matches "X"; the inspector lists:" and one line per target.
    [[nodiscard]] std::string no_match_message() const {
        std::string message = "no target matches " + listed(selector_) + "; the inspector lists ";
        if (listing_lines_ == 0) {
            return message + "no targets";
        }
        message += "these:" + listing_;
        if (unlisted_ != 0) {
            message += "\n… and " + std::to_string(unlisted_) + " more";
        }
        return message;
    }

  private:
    std::optional<std::string> selector_;
    std::optional<std::size_t> index_;
    std::optional<TargetFields> by_index_;
    std::optional<TargetFields> by_id_;
    std::optional<TargetFields> by_text_;
    std::string listing_;
    std::size_t listing_lines_ = 0;
    std::size_t unlisted_ = 0;
};

// Reads the whole body as one JSON value without building a tree: each target of the root array
// is handed to the choice as it ends, so no input can make the program keep more than a few
// copies of the body. The parser (nlohmann::json's SAX parser, strict) still checks every byte of
// the value and that only whitespace follows it.
class TargetListSax final : public nlohmann::json_sax<nlohmann::json> {
  public:
    using json = nlohmann::json;

    explicit TargetListSax(TargetChoice& choice) : choice_(choice) {}

    std::optional<std::size_t> error_position;
    std::string error_description;

    bool null() override { return scalar(nullptr); }
    bool boolean(bool) override { return scalar(nullptr); }
    bool number_integer(json::number_integer_t) override { return scalar(nullptr); }
    bool number_unsigned(json::number_unsigned_t) override { return scalar(nullptr); }
    bool number_float(json::number_float_t, const json::string_t&) override {
        return scalar(nullptr);
    }
    bool string(json::string_t& value) override { return scalar(&value); }
    bool binary(json::binary_t&) override { return scalar(nullptr); }

    bool start_object(std::size_t) override {
        value_starts();
        if (depth_ == 1 && root_is_array_) {
            current_.emplace();
            current_->index = elements_at_root_ - 1;
        }
        ++depth_;
        return true;
    }
    bool key(json::string_t& name) override {
        field_ = nullptr;
        if (current_ && depth_ == 2) {
            if (name == WS_URL_KEY) {
                field_ = &current_->ws_url;
            } else if (name == "id") {
                field_ = &current_->id;
            } else if (name == "type") {
                field_ = &current_->type;
            } else if (name == "title") {
                field_ = &current_->title;
            } else if (name == "url") {
                field_ = &current_->url;
            }
        }
        return true;
    }
    bool end_object() override {
        --depth_;
        if (depth_ == 1 && current_) {
            const std::size_t index = current_->index;
            choice_.add(std::move(current_), index);
            current_.reset();
        }
        return true;
    }
    bool start_array(std::size_t) override {
        if (depth_ == 0) {
            root_is_array_ = true;
        } else {
            value_starts();
            if (depth_ == 1) {
                choice_.add(std::nullopt, elements_at_root_ - 1);
            }
        }
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& ex) override {
        error_position = position;
        // The parser's excerpt of what it last read is raw peer bytes, possibly cut inside a
        // character: the report gets it as valid UTF-8 with its control characters escaped.
        error_description = quote_peer_text(describe(ex.what()), Layout::Escape);
        return false;
    }

  private:
    // Called for every value: counts the root array's elements and settles the key's value.
    void value_starts() {
        if (depth_ == 1 && root_is_array_) {
            ++elements_at_root_;
        }
        if (field_ != nullptr && depth_ == 2) {
            field_->reset();
            field_ = nullptr;
        }
    }
    bool scalar(json::string_t* text) {
        std::optional<std::string>* field = depth_ == 2 ? field_ : nullptr;
        value_starts();
        if (field != nullptr && text != nullptr) {
            *field = std::move(*text);
        }
        if (depth_ == 1 && root_is_array_) {
            choice_.add(std::nullopt, elements_at_root_ - 1);
        }
        return true;
    }

    // nlohmann's text reads "[json.exception.parse_error.101] parse error at line 1, column 4:
    // syntax error while parsing value - ..."; keep what follows the position.
    static std::string describe(std::string_view what) {
        // Texts without a position, e.g. "[json.exception.out_of_range.406] number overflow ...",
        // lose just their bracketed tag.
        if (what.starts_with('[') && what.find("] ") != std::string_view::npos) {
            what.remove_prefix(what.find("] ") + 2);
        }
        const std::size_t column = what.find("column ");
        const std::size_t colon = what.find(": ", column == std::string_view::npos ? 0 : column);
        if (column != std::string_view::npos && colon != std::string_view::npos) {
            return std::string(what.substr(colon + 2));
        }
        return std::string(what);
    }

    TargetChoice& choice_;
    std::size_t depth_ = 0;
    bool root_is_array_ = false;
    std::size_t elements_at_root_ = 0;
    std::optional<TargetFields> current_;
    std::optional<std::string>* field_ = nullptr;
};

}  // namespace

std::string json_error_message(std::string_view body, std::size_t position,
                               std::string_view description) {
    // The failing byte is the position-th one; at the end of the input there is none, and the
    // count stops at the end.
    const std::size_t failing = position == 0 ? 0 : std::min(position, body.size() + 1) - 1;
    const std::size_t before = std::min(failing, body.size());
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < before; ++i) {
        if (body[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    const std::size_t column = failing - line_start + 1;
    return std::string(description) + " at line " + std::to_string(line) + " column " +
           std::to_string(column);
}

Result<WsTarget> select_target(std::string_view body, const std::optional<std::string>& selector) {
    TargetChoice choice(selector);
    TargetListSax sax(choice);
    const bool parsed = nlohmann::json::sax_parse(body.begin(), body.end(), &sax,
                                                  nlohmann::json::input_format_t::json, true);
    if (!parsed) {
        return std::unexpected(
            ErrorChain::from_message(
                json_error_message(body, sax.error_position.value_or(0), sax.error_description))
                .with_context(std::string(NOT_JSON_CONTEXT)));
    }
    // The parser takes a NUL byte for the end of its input, so anything after one would pass
    // unseen; inside or before the value a NUL is already an error, so one here trails the value.
    if (const std::size_t nul = body.find('\0'); nul != std::string_view::npos) {
        return std::unexpected(
            ErrorChain::from_message(
                json_error_message(body, nul + 1,
                                   "syntax error while parsing value - unexpected "
                                   "character after the value; expected end of input"))
                .with_context(std::string(NOT_JSON_CONTEXT)));
    }
    const std::optional<TargetFields>& chosen = choice.chosen();
    if (!chosen && choice.selected_by_user()) {
        return std::unexpected(ErrorChain::from_message(choice.no_match_message()));
    }
    if (!chosen || !chosen->ws_url) {
        return std::unexpected(
            ErrorChain::from_message(std::string(NO_WS_URL_PREFIX) + quote_peer_text(body)));
    }
    std::string_view url = *chosen->ws_url;
    // The target is printed as a console line and put into a URL: a line feed would forge lines,
    // an escape would steer the terminal, and no WebSocket address contains either.
    if (const auto control = find_control_character(url)) {
        return std::unexpected(ErrorChain::from_message(
            std::string(WS_URL_KEY) + " in inspector /json contains the control character " +
            code_point_name(control->code_point) + " at byte " + std::to_string(control->offset) +
            " and cannot be a WebSocket address: " + quote_peer_text(url, Layout::Escape)));
    }
    // Any other scheme is kept whole in the address, as written.
    return split_ws_url(url, SchemeLetters::Exact).value_or(WsTarget{std::string(url), false});
}

Result<std::string> extract_ws_target(std::string_view body) {
    auto selected = select_target(body, std::nullopt);
    if (!selected) {
        return std::unexpected(std::move(selected.error()));
    }
    return std::move(selected->address);
}

}  // namespace quelby
