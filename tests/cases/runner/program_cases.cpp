#include "program_cases.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>
#include <regex>
#include <tuple>

#include "case_text.h"
#include "child_run.h"
#include "fake_peer.h"

namespace quelby::cases {
namespace {

using std::chrono::milliseconds;

enum class Match { Exact, Contains, StartsWith };

// What <any> becomes in an output check: bytes no program output holds.
const std::string ANY_TEXT("\x01\x02any\x02\x01");

// What a stdout or stderr block or setting expects of the program's output.
struct OutputCheck {
    int line = 0;
    bool to_stdout = true;
    Match match = Match::Exact;
    std::string text;  // not yet expanded
};

// "stderr contains on windows" and the like: the stream, how it is matched, and whether this
// platform is concerned. nullopt when `words` name no output check.
std::optional<OutputCheck> output_check(const std::vector<std::string>& words, bool& this_platform,
                                        const std::string& place) {
    if (words.empty() || (words[0] != "stdout" && words[0] != "stderr")) {
        return std::nullopt;
    }
    OutputCheck check;
    check.to_stdout = words[0] == "stdout";
    std::size_t i = 1;
    if (i < words.size() && words[i] == "contains") {
        check.match = Match::Contains;
        ++i;
    } else if (i + 1 < words.size() && words[i] == "starts" && words[i + 1] == "with") {
        check.match = Match::StartsWith;
        i += 2;
    }
    this_platform = true;
    if (i + 1 < words.size() && words[i] == "on" &&
        (words[i + 1] == "linux" || words[i + 1] == "windows")) {
        this_platform = words[i + 1] == platform_name();
        i += 2;
    }
    if (i != words.size()) {
        throw CaseFileError(place + ": not an output check: the words after \"" + words[0] +
                            "\" are [contains | starts with] [on linux | on windows]");
    }
    return check;
}

std::vector<std::string> words_of(std::string_view text) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = text.find_first_not_of(' ', i);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.emplace_back(text.substr(start, end - start));
        i = end;
    }
    return words;
}

std::optional<long> number_of(std::string_view text) {
    long number = 0;
    const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (fault != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

std::vector<std::string> bare_words(const Value& value, const std::string& place) {
    std::vector<std::string> words;
    for (const Item& item : value) {
        if (item.literal) {
            throw CaseFileError(place + ": this setting takes words, not `text`");
        }
        words.push_back(item.text);
    }
    return words;
}

long number_setting(const Setting& setting, const std::string& place) {
    const auto words = bare_words(setting.value, place);
    const auto number = words.size() == 1 ? number_of(words[0]) : std::nullopt;
    if (!number) {
        throw CaseFileError(place + ": \"" + setting.key + "\" takes one number");
    }
    return *number;
}

const std::string& text_setting(const Setting& setting, const std::string& place) {
    if (setting.value.size() != 1 || !setting.value[0].literal) {
        throw CaseFileError(place + ": \"" + setting.key + "\" takes one `text`");
    }
    return setting.value[0].text;
}

struct TimeBound {
    std::optional<milliseconds> at_least;
    std::optional<milliseconds> under;
};

// "under N ms", "at least N ms", "N to M ms"
TimeBound time_bound(const Setting& setting, const std::string& place) {
    const auto words = bare_words(setting.value, place);
    const CaseFileError wrong(place +
                              ": time is \"under N ms\", \"at least N ms\" or \"N to M ms\"");
    const auto ms = [&](std::size_t i) {
        const auto number = i < words.size() ? number_of(words[i]) : std::nullopt;
        if (!number || words.size() != i + 2 || words[i + 1] != "ms") {
            throw wrong;
        }
        return milliseconds(*number);
    };
    TimeBound bound;
    if (!words.empty() && words[0] == "under") {
        bound.under = ms(1);
    } else if (words.size() > 1 && words[0] == "at" && words[1] == "least") {
        bound.at_least = ms(2);
    } else {
        const auto from = words.empty() ? std::nullopt : number_of(words[0]);
        if (!from || words.size() < 2 || words[1] != "to") {
            throw wrong;
        }
        bound.at_least = milliseconds(*from);
        bound.under = ms(2);
    }
    return bound;
}

struct AnswerForm {
    bool raw = false;          // the lines as written, no head and body
    bool with_length = false;  // a Content-Length header for the body is added to the head
};

// The bytes an answer block sends, its tokens expanded: the lines before the first empty line are
// the head, each ended by CR LF, the empty line ends it with CR LF, and the rest is the body as
// written, without the block's last line break.
std::string answer_bytes(const Block& block, AnswerForm form, const Names& names) {
    if (form.raw) {
        std::string text;
        for (std::size_t i = 0; i < block.lines.size(); ++i) {
            text += (i == 0 ? "" : "\n") + block.lines[i];
        }
        return expand(text, names);
    }
    std::string head;
    std::string body;
    bool in_body = false;
    for (const std::string& line : block.lines) {
        if (in_body) {
            body += line + "\n";
        } else if (line.empty()) {
            in_body = true;
        } else {
            head += expand(line, names) + "\r\n";
        }
    }
    if (!body.empty()) {
        body.pop_back();  // the block's last line break
    }
    body = expand(body, names);
    if (form.with_length) {
        head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return in_body || form.with_length ? head + "\r\n" + body : head;
}

// The answer block's words after "answer": [raw] [with length] [keep open]
// [trickle N ms [forever]].
Answer answer_options(const Block& block, AnswerForm& form, const std::string& place) {
    Answer answer;
    const std::vector<std::string>& words = block.info;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "raw") {
            form.raw = true;
        } else if (words[i] == "with" && i + 1 < words.size() && words[i + 1] == "length") {
            form.with_length = true;
            ++i;
        } else if (words[i] == "keep" && i + 1 < words.size() && words[i + 1] == "open") {
            answer.keep_open = true;
            ++i;
        } else if (words[i] == "trickle" && i + 2 < words.size() && number_of(words[i + 1]) &&
                   words[i + 2] == "ms") {
            answer.trickle = milliseconds(*number_of(words[i + 1]));
            i += 2;
        } else if (words[i] == "forever" && answer.trickle.count() > 0) {
            answer.forever = true;
        } else {
            throw CaseFileError(place + ": an answer's words are [raw] [with length] " +
                                "[keep open] [trickle N ms [forever]], not \"" + words[i] + "\"");
        }
    }
    return answer;
}

std::string joined_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

std::string shown_output(std::string_view label, std::string_view text) {
    return std::string(label) + "\n" + shown_lines(text, "  ");
}

class ProgramCase {
  public:
    ProgramCase(const CaseFile& file, const Section& section, const ProgramOptions& options)
        : file_(file), section_(section), options_(options) {
        read();
    }

    std::vector<std::string> run();

  private:
    void read();
    std::string place(int line) const { return place_of(file_, line); }
    void check_output(const ChildEnd& end, std::vector<std::string>& faults) const;

    const CaseFile& file_;
    const Section& section_;
    const ProgramOptions& options_;

    Value arguments_;
    std::vector<std::pair<std::string, std::optional<std::string>>> environment_;
    StandardOutput output_ = StandardOutput::Captured;
    std::string inspector_;  // "", "refuses connections" or "never accepts"
    // With their blocks: the bytes are made once the address is known.
    std::vector<std::tuple<Answer, AnswerForm, const Block*>> answers_;
    std::optional<long> status_;
    std::optional<long> requests_;
    std::vector<std::pair<long, std::string>> request_contains_;
    TimeBound time_;
    std::vector<OutputCheck> outputs_;
    Names names_;
};

void ProgramCase::read() {
    bool has_arguments = false;
    for (const Setting& setting : section_.settings) {
        const std::string at = place(setting.line);
        const std::vector<std::string> key = words_of(setting.key);
        bool this_platform = true;
        if (setting.key == "arguments") {
            arguments_ = setting.value;
            has_arguments = true;
        } else if (key.size() == 2 && key[0] == "environment") {
            if (setting.value.size() == 1 && !setting.value[0].literal &&
                setting.value[0].text == "unset") {
                environment_.emplace_back(key[1], std::nullopt);
            } else {
                environment_.emplace_back(key[1], text_setting(setting, at));
            }
        } else if (setting.key == "inspector") {
            std::string words;
            for (const std::string& word : bare_words(setting.value, at)) {
                words += (words.empty() ? "" : " ") + word;
            }
            if (words != "refuses connections" && words != "never accepts") {
                throw CaseFileError(at + ": the inspector \"refuses connections\" or \"never " +
                                    "accepts\" (an answering one is given by its answers)");
            }
            inspector_ = words;
        } else if (setting.key == "standard output") {
            const auto words = bare_words(setting.value, at);
            if (words == std::vector<std::string>{"closed"}) {
                output_ = StandardOutput::Closed;
            } else if (words == std::vector<std::string>{"broken", "pipe"}) {
                output_ = StandardOutput::BrokenPipe;
            } else {
                throw CaseFileError(at + ": standard output is \"closed\" or \"broken pipe\"");
            }
        } else if (setting.key == "status") {
            status_ = number_setting(setting, at);
        } else if (setting.key == "requests") {
            requests_ = number_setting(setting, at);
        } else if (key.size() == 3 && key[0] == "request" && key[2] == "contains" &&
                   number_of(key[1]) && *number_of(key[1]) >= 1) {
            request_contains_.emplace_back(*number_of(key[1]), text_setting(setting, at));
        } else if (setting.key == "time") {
            time_ = time_bound(setting, at);
        } else if (auto check = output_check(key, this_platform, at)) {
            if (check->match == Match::Exact) {
                throw CaseFileError(at + ": a whole output is a block, not a setting");
            }
            check->line = setting.line;
            check->text = text_setting(setting, at);
            if (this_platform) {
                outputs_.push_back(*check);
            }
        } else {
            throw CaseFileError(at + ": no setting \"" + setting.key + "\" in a program case");
        }
    }
    if (!has_arguments || !status_) {
        throw CaseFileError(place(section_.line) + ": a program case has arguments and a status");
    }
    for (const Block& block : section_.blocks) {
        const std::string at = place(block.line);
        bool this_platform = true;
        if (!block.info.empty() && block.info[0] == "answer") {
            AnswerForm form;
            Answer answer = answer_options(block, form, at);
            answers_.emplace_back(answer, form, &block);
        } else if (auto check = output_check(block.info, this_platform, at)) {
            check->line = block.line;
            check->text = joined_lines(block.lines);
            if (this_platform) {
                outputs_.push_back(*check);
            }
        } else if (!block.info.empty()) {
            throw CaseFileError(at + ": a program case's blocks are answer, stdout and stderr");
        }
    }
    if (!answers_.empty() && !inspector_.empty()) {
        throw CaseFileError(place(section_.line) + ": an inspector that " + inspector_ +
                            " has no answers");
    }
    if ((requests_ || !request_contains_.empty()) && answers_.empty()) {
        throw CaseFileError(place(section_.line) + ": only an answering inspector counts requests");
    }
    names_ = file_.named;
    names_["version"] = QUELBY_CASES_VERSION;
}

std::vector<std::string> ProgramCase::run() {
    // The inspector first: the arguments and answers may name its address.
    std::unique_ptr<AnsweringPeer> answering;
    std::unique_ptr<RefusingPeer> refusing;
    std::unique_ptr<StuckPeer> stuck;
    std::optional<std::uint16_t> port;
    if (!answers_.empty()) {
        answering = std::make_unique<AnsweringPeer>();
        port = answering->port();
    } else if (inspector_ == "refuses connections") {
        refusing = std::make_unique<RefusingPeer>();
        port = refusing->port();
    } else if (inspector_ == "never accepts") {
        stuck = std::make_unique<StuckPeer>();
        port = stuck->port();
    }
    if (port) {
        names_["port"] = std::to_string(*port);
        names_["address"] = "127.0.0.1:" + std::to_string(*port);
    }
    if (answering) {
        std::vector<Answer> answers;
        for (const auto& [answer, form, block] : answers_) {
            answers.push_back(answer);
            answers.back().bytes = answer_bytes(*block, form, names_);
        }
        answering->start(std::move(answers));
    }

    ChildRun child;
    child.argv.push_back(options_.program);
    for (const Item& item : arguments_) {
        child.argv.push_back(expand(item.text, names_));
    }
    for (const auto& [name, value] : environment_) {
        child.environment.emplace_back(
            name, value ? std::optional(expand(*value, names_)) : std::nullopt);
    }
    child.output = output_;
    const ChildEnd end = run_child(child);

    std::vector<std::string> faults;
    if (!end.status) {
        faults.push_back("status: expected " + std::to_string(*status_) + ", but " + end.how);
    } else if (*end.status != *status_) {
        faults.push_back("status: expected " + std::to_string(*status_) + ", got " +
                         std::to_string(*end.status));
    }
    check_output(end, faults);
    if (answering) {
        const std::vector<std::string> requests = answering->requests();
        if (requests_ && static_cast<long>(requests.size()) != *requests_) {
            faults.push_back("requests: expected " + std::to_string(*requests_) + ", got " +
                             std::to_string(requests.size()));
        }
        for (const auto& [number, text] : request_contains_) {
            const std::string wanted = expand(text, names_);
            const auto index = static_cast<std::size_t>(number - 1);
            if (index >= requests.size()) {
                faults.push_back("request " + std::to_string(number) + ": there were only " +
                                 std::to_string(requests.size()));
            } else if (requests[index].find(wanted) == std::string::npos) {
                faults.push_back(shown_output("request " + std::to_string(number) +
                                                  " does not contain `" + shown_inline(wanted) +
                                                  "`; it was",
                                              requests[index]));
            }
        }
    }
    const milliseconds slack = options_.time_slack;
    if ((time_.at_least && end.elapsed < *time_.at_least) ||
        (time_.under && end.elapsed >= *time_.under + slack)) {
        std::string expected;
        if (time_.at_least) {
            expected += "at least " + std::to_string(time_.at_least->count()) + " ms";
        }
        if (time_.under) {
            expected += std::string(expected.empty() ? "" : " and ") + "under " +
                        std::to_string((*time_.under + slack).count()) + " ms";
        }
        faults.push_back("time: " + std::to_string(end.elapsed.count()) + " ms, expected " +
                         expected);
    }
    if (!faults.empty()) {
        faults.push_back(shown_output("its standard output:", end.out));
        faults.push_back(shown_output("its standard error:", end.err));
    }
    return faults;
}

// Whether `actual` matches `wanted`, in which ANY_TEXT stands for one or more characters of a
// line (a system's own wording between the program's words).
bool output_matches(const std::string& actual, const std::string& wanted, Match match) {
    if (wanted.find(ANY_TEXT) == std::string::npos) {
        switch (match) {
            case Match::Exact:
                return actual == wanted;
            case Match::Contains:
                return actual.find(wanted) != std::string::npos;
            case Match::StartsWith:
                return actual.starts_with(wanted);
        }
    }
    std::string pattern;
    for (std::size_t start = 0;;) {
        const std::size_t any = wanted.find(ANY_TEXT, start);
        for (const char c : wanted.substr(start, any - start)) {
            if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) {
                pattern += '\\';
            }
            pattern += c;
        }
        if (any == std::string::npos) {
            break;
        }
        pattern += "[^\n]+";
        start = any + ANY_TEXT.size();
    }
    const std::regex expression(pattern);
    switch (match) {
        case Match::Exact:
            return std::regex_match(actual, expression);
        case Match::Contains:
            return std::regex_search(actual, expression);
        case Match::StartsWith:
            return std::regex_search(actual, expression, std::regex_constants::match_continuous);
    }
    return false;
}

void ProgramCase::check_output(const ChildEnd& end, std::vector<std::string>& faults) const {
    Names names = names_;
    names["any"] = ANY_TEXT;
    for (const OutputCheck& check : outputs_) {
        const std::string wanted = expand(check.text, names);
        const std::string& actual = check.to_stdout ? end.out : end.err;
        const std::string stream = check.to_stdout ? "stdout" : "stderr";
        if (!output_matches(actual, wanted, check.match)) {
            const std::string how = check.match == Match::Exact      ? " is not"
                                    : check.match == Match::Contains ? " does not contain"
                                                                     : " does not start with";
            // Shown with the token the case wrote.
            std::string shown_wanted = expand(check.text, names_);
            faults.push_back(
                shown_output(stream + how + " (" + place(check.line) + ")", shown_wanted));
        }
    }
}

}  // namespace

bool is_program_case(const Section& section) {
    return std::ranges::any_of(section.settings,
                               [](const Setting& setting) { return setting.key == "arguments"; });
}

int run_program_cases(const CaseFile& file, const ProgramOptions& options, Tally& tally) {
    int run = 0;
    for (const Section& section : file.sections) {
        if (!is_program_case(section)) {
            continue;
        }
        const std::string name = place_of(file, section.line) + " " + section.title;
        if (!tally.selected(name)) {
            continue;
        }
        if (options.program.empty()) {
            throw CaseFileError(place_of(file, section.line) +
                                ": a program case needs the program (--program PATH)");
        }
        ProgramCase program_case(file, section, options);
        tally.report(name, program_case.run());
        ++run;
    }
    return run;
}

}  // namespace quelby::cases
