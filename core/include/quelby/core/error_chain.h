// The program's one error value: an ordered chain of messages, outermost first, with an optional
// stack trace captured where the deepest program-made link was created.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelby {

class ErrorChain {
  public:
    // A new chain whose only link is `message`.
    static ErrorChain from_message(std::string message);
    // A new chain for an operating-system error code: the system's text, then " (os error N)".
    static ErrorChain from_os_error(int code);

    // Puts `message` on top of this chain; the previous links become its causes.
    [[nodiscard]] ErrorChain with_context(std::string message) &&;
    // Adds what the user may do about the outermost link ("hint: ..."), kept with that link: the
    // report prints it on the line after the link's message, lined up under it, whatever
    // contexts are put on top later.
    [[nodiscard]] ErrorChain with_hint(std::string hint) &&;

    // Outermost first: the error itself, then its causes from the nearest to the deepest.
    [[nodiscard]] const std::vector<std::string>& messages() const noexcept { return messages_; }
    // The hints of the link messages()[index], in the order added.
    [[nodiscard]] std::vector<std::string_view> hints_of(std::size_t index) const;
    [[nodiscard]] const std::optional<std::string>& stack_trace() const noexcept { return trace_; }

  private:
    explicit ErrorChain(std::string message);

    struct Hint {
        std::size_t link_from_deepest = 0;  // stable while contexts are added on top
        std::string text;
    };

    std::vector<std::string> messages_;
    std::vector<Hint> hints_;
    std::optional<std::string> trace_;
};

template <class T>
using Result = std::expected<T, ErrorChain>;
using Status = std::expected<void, ErrorChain>;

// The report `main` writes to standard error, final line feed included.
std::string format_report(const ErrorChain& error);

// The names of the two environment switches that turn stack traces on: the library-level one is
// consulted first, the general one only when the first is unset.
inline constexpr std::string_view LIB_BACKTRACE_ENV = "QUELBY_INSPECTOR_LIB_BACKTRACE";
inline constexpr std::string_view BACKTRACE_ENV = "QUELBY_INSPECTOR_BACKTRACE";

// The decision itself, from the two switches' values (nullopt when unset).
bool backtrace_wanted(const std::optional<std::string_view>& lib_switch,
                      const std::optional<std::string_view>& general_switch);

}  // namespace quelby
