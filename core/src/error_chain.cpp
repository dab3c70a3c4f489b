#include "quelby/core/error_chain.h"

#include <mutex>

#include "quelby/core/environment.h"
#include "quelby/core/os_error.h"
#include "quelby/core/stack_trace.h"

namespace quelby {
namespace {

// Decided once per process, when the first chain is made.
bool tracing_on() {
    static const bool on = [] {
        const std::optional<std::string> lib_switch = environment_variable_utf8(LIB_BACKTRACE_ENV);
        const std::optional<std::string> any_switch = environment_variable_utf8(BACKTRACE_ENV);
        const auto view = [](const std::optional<std::string>& value) {
            return value ? std::optional<std::string_view>(*value) : std::nullopt;
        };
        return backtrace_wanted(view(lib_switch), view(any_switch));
    }();
    return on;
}

// Continuation lines of a cause are indented to line up under its first line; so are its hints.
void append_link(std::string& out, const ErrorChain& error, std::size_t index,
                 std::string_view indent);

void append_indented(std::string& out, std::string_view message, std::string_view indent) {
    std::size_t start = 0;
    while (true) {
        const std::size_t newline = message.find('\n', start);
        out.append(
            message.substr(start, newline == std::string_view::npos ? newline : newline - start));
        if (newline == std::string_view::npos) {
            return;
        }
        out.push_back('\n');
        out.append(indent);
        start = newline + 1;
    }
}

void append_link(std::string& out, const ErrorChain& error, std::size_t index,
                 std::string_view indent) {
    append_indented(out, error.messages()[index], indent);
    for (const std::string_view hint : error.hints_of(index)) {
        out.push_back('\n');
        out.append(indent);
        append_indented(out, hint, indent);
    }
}

}  // namespace

bool backtrace_wanted(const std::optional<std::string_view>& lib_switch,
                      const std::optional<std::string_view>& general_switch) {
    const auto& chosen = lib_switch ? lib_switch : general_switch;
    return chosen.has_value() && *chosen != "0";
}

ErrorChain::ErrorChain(std::string message) : messages_{std::move(message)} {
    if (tracing_on()) {
        trace_ = capture_stack_trace();
    }
}

ErrorChain ErrorChain::from_message(std::string message) {
    return ErrorChain(std::move(message));
}

ErrorChain ErrorChain::from_os_error(int code) {
    return ErrorChain(os_error_text(code) + " (os error " + std::to_string(code) + ")");
}

ErrorChain ErrorChain::with_context(std::string message) && {
    messages_.insert(messages_.begin(), std::move(message));
    return std::move(*this);
}

ErrorChain ErrorChain::with_hint(std::string hint) && {
    hints_.push_back(Hint{.link_from_deepest = messages_.size() - 1, .text = std::move(hint)});
    return std::move(*this);
}

std::vector<std::string_view> ErrorChain::hints_of(std::size_t index) const {
    std::vector<std::string_view> found;
    for (const Hint& hint : hints_) {
        if (index < messages_.size() && hint.link_from_deepest == messages_.size() - 1 - index) {
            found.emplace_back(hint.text);
        }
    }
    return found;
}

std::string format_report(const ErrorChain& error) {
    const auto& messages = error.messages();
    std::string out = "Error: ";
    if (!messages.empty()) {
        append_link(out, error, 0, "");
    }
    if (messages.size() == 2) {
        out += "\n\nCaused by:\n    ";
        append_link(out, error, 1, "    ");
    } else if (messages.size() > 2) {
        out += "\n\nCaused by:";
        for (std::size_t i = 1; i < messages.size(); ++i) {
            std::string number = std::to_string(i - 1);
            out += '\n';
            out.append(number.size() < 5 ? 5 - number.size() : 0, ' ');
            out += number;
            out += ": ";
            append_link(out, error, i, "       ");
        }
    }
    if (const auto& trace = error.stack_trace()) {
        std::string_view text = *trace;
        const auto end = text.find_last_not_of(" \t\r\n");
        text = end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
        out += "\n\nStack backtrace:\n";
        out += text;
    }
    out += '\n';
    return out;
}

}  // namespace quelby
