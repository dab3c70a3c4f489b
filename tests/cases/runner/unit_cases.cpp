#include "unit_cases.h"

#include <charconv>
#include <functional>
#include <optional>

#include "case_text.h"
#include "quelby/discovery/http_reply.h"
#include "quelby/discovery/inspector_address.h"
#include "quelby/discovery/socket_address.h"
#include "quelby/discovery/target_list_json.h"

namespace quelby::cases {
namespace {

Item literal(std::string text) {
    return Item{true, std::move(text)};
}
Item word(std::string text) {
    return Item{false, std::move(text)};
}

Value error_value(const ErrorChain& error) {
    Value value{word("error")};
    for (const std::string& message : error.messages()) {
        value.push_back(literal(message));
    }
    return value;
}

const std::string& text_input(const Value& value) {
    if (value.size() != 1 || !value[0].literal) {
        throw CaseFileError("an input here is one `text`, not " + shown(value));
    }
    return value[0].text;
}

std::size_t number_input(const Value& value) {
    std::size_t number = 0;
    if (value.size() == 1 && !value[0].literal) {
        const std::string& text = value[0].text;
        const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (fault == std::errc{} && end == text.data() + text.size()) {
            return number;
        }
    }
    throw CaseFileError("an input here is a number, not " + shown(value));
}

bool is_kind(const Value& value, std::initializer_list<std::string_view> words) {
    std::size_t i = 0;
    for (const std::string_view expected : words) {
        if (i >= value.size() || value[i].literal || value[i].text != expected) {
            return false;
        }
        ++i;
    }
    return true;
}

using Values = std::vector<Value>;

struct Operation {
    std::string_view name;
    std::vector<std::string_view> inputs;   // the columns after the first that feed it
    std::vector<std::string_view> results;  // the columns it is judged by
    // The results for the expanded inputs (the first column's cell first). `expected` is for the
    // result kinds that are patterns rather than values.
    std::function<Values(const Values& inputs, const Values& expected)> run;
};

Value ws_target_value(const WsTarget& target) {
    return Value{word(target.secure ? "wss" : "ws"), literal(target.address)};
}

// "json error `line L column C`": the two messages of a target list that is not JSON, the
// parser's description of the fault followed by its place, and nothing of the parser's own
// message prefix ("[json.exception...] parse error at ...").
bool is_json_error(const ErrorChain& error, const Value& expected) {
    if (!is_kind(expected, {"json", "error"}) || expected.size() != 3 || !expected[2].literal) {
        return false;
    }
    const std::vector<std::string>& messages = error.messages();
    const std::string place = " at " + expected[2].text;
    return messages.size() == 2 && messages[0] == "inspector /json was not valid JSON" &&
           messages[1].ends_with(place) && messages[1].size() > place.size() &&
           messages[1].find("[json.exception") == std::string::npos;
}

const std::vector<Operation>& operations() {
    static const std::vector<Operation> all = {
        {"parse_inspector_address",
         {},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             const auto address = parse_inspector_address(text_input(in[0]));
             if (!address) {
                 return {error_value(address.error())};
             }
             if (const auto* listener = std::get_if<ListenerAddress>(&*address)) {
                 return {Value{word("listener"), literal(listener->authority)}};
             }
             return {ws_target_value(std::get<WsTarget>(*address))};
         }},
        {"without_port_sign",
         {},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             return {Value{literal(without_port_sign(text_input(in[0])))}};
         }},
        {"plan_address",
         {},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             const auto plan = net::plan_address(text_input(in[0]));
             if (!plan) {
                 return {error_value(plan.error())};
             }
             if (const auto* address = std::get_if<net::SocketAddress>(&*plan)) {
                 return {Value{word("socket"), literal(net::to_string(*address))}};
             }
             const auto& host = std::get<net::HostAndPort>(*plan);
             return {Value{word("resolve"), literal(host.host), word(std::to_string(host.port))}};
         }},
        {"parse_ipv6",
         {},
         {"canonical", "full"},
         [](const Values& in, const Values&) -> Values {
             const auto bytes = net::parse_ipv6(text_input(in[0]));
             if (!bytes) {
                 return {Value{word("invalid")}, Value{}};
             }
             const std::string canonical = net::ipv6_canonical_text(*bytes);
             Value canonical_value{literal(canonical)};
             // Either text must name the same address again.
             if (net::parse_ipv6(canonical) != bytes) {
                 canonical_value.push_back(word("(does-not-parse-back)"));
             }
             return {canonical_value, Value{literal(net::ipv6_full_text(*bytes))}};
         }},
        {"check_reply",
         {},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             const auto body = http::check_reply(text_input(in[0]));
             if (!body) {
                 return {error_value(body.error())};
             }
             return {Value{word("body"), literal(*body)}};
         }},
        {"status_line",
         {},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             return {Value{literal(std::string(http::status_line(text_input(in[0]))))}};
         }},
        {"status_line_accepted",
         {},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             return {Value{word(http::status_line_accepted(text_input(in[0])) ? "yes" : "no")}};
         }},
        {"declared_content_length",
         {},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             const auto length = http::declared_content_length(text_input(in[0]));
             return {Value{word(length ? std::to_string(*length) : "none")}};
         }},
        {"extract_ws_target",
         {},
         {"result"},
         [](const Values& in, const Values& expected) -> Values {
             const auto target = extract_ws_target(text_input(in[0]));
             if (target) {
                 return {Value{word("target"), literal(*target)}};
             }
             if (is_json_error(target.error(), expected[0])) {
                 return {expected[0]};
             }
             return {error_value(target.error())};
         }},
        {"json_error_message",
         {"at byte", "says"},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             return {Value{literal(
                 json_error_message(text_input(in[0]), number_input(in[1]), text_input(in[2])))}};
         }},
        {"select_target",
         {"in"},
         {"result"},
         [](const Values& in, const Values&) -> Values {
             std::optional<std::string> selector;
             if (!is_kind(in[0], {"none"})) {
                 selector = text_input(in[0]);
             }
             const auto chosen = select_target(text_input(in[1]), selector);
             if (!chosen) {
                 return {error_value(chosen.error())};
             }
             return {ws_target_value(*chosen)};
         }},
    };
    return all;
}

Value expanded(const Value& value, const Names& names) {
    Value out;
    for (const Item& item : value) {
        out.push_back(item.literal ? literal(expand(item.text, names)) : item);
    }
    return out;
}

// Where each of the operation's inputs and results sits in the table; throws on a table that does
// not fit the operation.
struct Columns {
    std::vector<std::size_t> inputs;  // the first column, then the named input columns
    std::vector<std::size_t> results;
};

Columns columns_of(const Operation& operation, const Table& table, const std::string& place) {
    Columns columns{{0}, {}};
    const auto find = [&](std::string_view name) {
        for (std::size_t i = 1; i < table.header.size(); ++i) {
            if (table.header[i] == name) {
                return i;
            }
        }
        throw CaseFileError(place + ": " + std::string(operation.name) + " needs a column \"" +
                            std::string(name) + "\"");
    };
    for (const std::string_view name : operation.inputs) {
        columns.inputs.push_back(find(name));
    }
    for (const std::string_view name : operation.results) {
        columns.results.push_back(find(name));
    }
    for (std::size_t i = 1; i < table.header.size(); ++i) {
        const bool known = table.header[i] == "note" ||
                           std::ranges::find(columns.inputs, i) != columns.inputs.end() ||
                           std::ranges::find(columns.results, i) != columns.results.end();
        if (!known) {
            throw CaseFileError(place + ": " + std::string(operation.name) + " has no column \"" +
                                table.header[i] + "\"");
        }
    }
    return columns;
}

}  // namespace

int run_table_cases(const CaseFile& file, Tally& tally) {
    const Names& names = file.named;
    int run = 0;
    for (const Section& section : file.sections) {
        for (const Table& table : section.tables) {
            const std::string table_place = place_of(file, table.line);
            const auto operation =
                std::ranges::find(operations(), table.header.front(), &Operation::name);
            if (operation == operations().end()) {
                throw CaseFileError(table_place + ": no operation named \"" + table.header.front() +
                                    "\"");
            }
            const Columns columns = columns_of(*operation, table, table_place);
            for (const Row& row : table.rows) {
                const std::string place = place_of(file, row.line);
                const std::string name =
                    place + " " + std::string(operation->name) + " " + shown(row.cells[0]);
                if (!tally.selected(name)) {
                    continue;
                }
                Values inputs;
                for (const std::size_t column : columns.inputs) {
                    inputs.push_back(expanded(row.cells[column], names));
                }
                Values expected;
                for (const std::size_t column : columns.results) {
                    expected.push_back(expanded(row.cells[column], names));
                }
                Values actual;
                try {
                    actual = operation->run(inputs, expected);
                } catch (const CaseFileError& fault) {
                    throw CaseFileError(place + ": " + fault.what());
                }
                std::vector<std::string> faults;
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    if (actual[i] != expected[i]) {
                        faults.push_back(table.header[columns.results[i]] + ": expected " +
                                         shown(expected[i]) + "\n     got " + shown(actual[i]));
                    }
                }
                tally.report(name, faults);
                ++run;
            }
        }
    }
    return run;
}

}  // namespace quelby::cases
