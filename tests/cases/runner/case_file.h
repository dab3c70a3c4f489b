// A case file as the runner reads it: Markdown whose tables, settings ("- key: value" list items)
// and fenced blocks are the cases; everything else is prose for the reader. tests/cases/README.md
// describes the format.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quelby::cases {

// A piece of a table cell or a setting's value: literal text written `like this`, or a bare word
// (a keyword or a number).
struct Item {
    bool literal = false;
    std::string text;  // as written: tokens such as <CRLF> are still to be expanded

    friend bool operator==(const Item&, const Item&) = default;
};
using Value = std::vector<Item>;

struct Row {
    int line = 0;
    std::vector<Value> cells;
};

struct Table {
    int line = 0;
    std::vector<std::string> header;  // the header cells, trimmed
    std::vector<Row> rows;
};

// "- key: value"
struct Setting {
    int line = 0;
    std::string key;
    Value value;
};

// A fenced block: its info string split into words, and its lines.
struct Block {
    int line = 0;
    std::vector<std::string> info;
    std::vector<std::string> lines;
};

// The text under one heading, up to the next heading.
struct Section {
    int line = 0;
    std::string title;
    std::vector<Setting> settings;
    std::vector<Block> blocks;
    std::vector<Table> tables;
};

struct CaseFile {
    std::string path;
    std::vector<Section> sections;
    // Blocks whose info string is a language and a name ("json three"), by name: their lines
    // joined by line feeds, without a last one.
    std::map<std::string, std::string> named;
};

// A fault in a case file itself, reported with its place.
class CaseFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

CaseFile read_case_file(const std::string& path);
CaseFile parse_case_file(std::string path, std::string_view text);

// A table cell or a setting's value split into items.
Value parse_value(std::string_view text, const std::string& place);

// "file:line"
std::string place_of(const CaseFile& file, int line);

}  // namespace quelby::cases
