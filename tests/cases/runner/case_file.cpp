#include "case_file.h"

#include <fstream>
#include <sstream>

namespace quelby::cases {
namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string> words_of(std::string_view text) {
    std::vector<std::string> words;
    std::istringstream in{std::string(text)};
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// The cells of "| a | `b|c` |": split at the bars outside backquotes, without the outer bars.
std::vector<std::string> cells_of(std::string_view line, const std::string& place) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '|' || line.back() != '|') {
        throw CaseFileError(place + ": a table row starts and ends with '|'");
    }
    line = line.substr(1, line.size() - 2);
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (const char c : line) {
        if (c == '`') {
            quoted = !quoted;
        }
        if (c == '|' && !quoted) {
            cells.emplace_back(trim(cell));
            cell.clear();
        } else {
            cell += c;
        }
    }
    if (quoted) {
        throw CaseFileError(place + ": a backquote is not closed");
    }
    cells.emplace_back(trim(cell));
    return cells;
}

bool is_separator_row(const std::vector<std::string>& cells) {
    for (const std::string& cell : cells) {
        if (cell.empty() || cell.find_first_not_of("-: ") != std::string::npos) {
            return false;
        }
    }
    return true;
}

// "- key: value" with a key of letters, digits, blanks and underscores.
bool split_setting(std::string_view line, std::string& key, std::string_view& value) {
    if (!line.starts_with("- ")) {
        return false;
    }
    line.remove_prefix(2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    for (const char c : line.substr(0, colon)) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == ' ' || c == '_';
        if (!allowed) {
            return false;
        }
    }
    const std::string_view rest = line.substr(colon + 1);
    if (!rest.empty() && rest.front() != ' ') {
        return false;
    }
    key = std::string(trim(line.substr(0, colon)));
    value = trim(rest);
    return true;
}

}  // namespace

std::string place_of(const CaseFile& file, int line) {
    return file.path + ":" + std::to_string(line);
}

Value parse_value(std::string_view text, const std::string& place) {
    Value value;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
        } else if (text[i] == '`') {
            const std::size_t end = text.find('`', i + 1);
            if (end == std::string_view::npos) {
                throw CaseFileError(place + ": a backquote is not closed");
            }
            value.push_back(Item{true, std::string(text.substr(i + 1, end - i - 1))});
            i = end + 1;
        } else {
            const std::size_t end = text.find_first_of(" \t`", i);
            const std::size_t stop = end == std::string_view::npos ? text.size() : end;
            value.push_back(Item{false, std::string(text.substr(i, stop - i))});
            i = stop;
        }
    }
    return value;
}

CaseFile parse_case_file(std::string path, std::string_view text) {
    CaseFile file;
    file.path = std::move(path);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        start = end + 1;
    }
    // Text before the first heading belongs to an untitled section.
    file.sections.push_back(Section{1, "", {}, {}, {}});
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        const std::string place = place_of(file, number);
        const std::string_view line = lines[i];
        Section& section = file.sections.back();
        if (line.starts_with("```")) {
            Block block{number, words_of(line.substr(3)), {}};
            std::size_t j = i + 1;
            for (; j < lines.size() && trim(lines[j]) != "```"; ++j) {
                block.lines.push_back(lines[j]);
            }
            if (j == lines.size()) {
                throw CaseFileError(place + ": the block is not closed");
            }
            i = j;
            if (block.info.size() == 2 && block.info[0] != "answer" && block.info[0] != "stdout" &&
                block.info[0] != "stderr") {
                std::string joined;
                for (std::size_t k = 0; k < block.lines.size(); ++k) {
                    joined += (k == 0 ? "" : "\n") + block.lines[k];
                }
                if (!file.named.emplace(block.info[1], joined).second) {
                    throw CaseFileError(place + ": a second block named " + block.info[1]);
                }
            } else {
                section.blocks.push_back(std::move(block));
            }
        } else if (line.starts_with("#")) {
            const std::size_t start = line.find_first_not_of('#');
            file.sections.push_back(Section{
                number,
                std::string(trim(line.substr(start == std::string::npos ? line.size() : start))),
                {},
                {},
                {}});
        } else if (trim(line).starts_with("|")) {
            Table table{number, cells_of(line, place), {}};
            if (i + 1 >= lines.size() || !is_separator_row(cells_of(lines[i + 1], place))) {
                throw CaseFileError(place + ": a table's header is followed by |---|");
            }
            std::size_t j = i + 2;
            for (; j < lines.size() && trim(lines[j]).starts_with("|"); ++j) {
                const std::string row_place = place_of(file, static_cast<int>(j) + 1);
                Row row{static_cast<int>(j) + 1, {}};
                for (const std::string& cell : cells_of(lines[j], row_place)) {
                    row.cells.push_back(parse_value(cell, row_place));
                }
                if (row.cells.size() != table.header.size()) {
                    throw CaseFileError(row_place + ": the row has " +
                                        std::to_string(row.cells.size()) + " cells, the header " +
                                        std::to_string(table.header.size()));
                }
                table.rows.push_back(std::move(row));
            }
            i = j - 1;
            section.tables.push_back(std::move(table));
        } else {
            std::string key;
            std::string_view value;
            if (split_setting(line, key, value)) {
                section.settings.push_back(Setting{number, key, parse_value(value, place)});
            }
        }
    }
    return file;
}

CaseFile read_case_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw CaseFileError(path + ": cannot be read");
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_case_file(path, text.str());
}

}  // namespace quelby::cases
