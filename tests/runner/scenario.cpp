#include "runner/scenario.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>


std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(Trim(text.substr(start, bar - start)));
    fields.push_back(Trim(text.substr(start)));
    return fields;
}

std::string ExpandPlaceholders(const std::string& text, const std::map<std::string, std::string>& values,
                               bool characters) {
    static const std::map<std::string, std::string> characterNames = {{"nl", "\n"}, {"cr", "\r"}, {"tab", "\t"}};
    std::string result;
    for (size_t i = 0; i < text.size(); i++) {
        size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
        std::string name = close == std::string::npos ? std::string() : text.substr(i + 1, close - i - 1);
        size_t star = name.rfind('*');
        if (values.count(name))
            result += values.at(name);
        else if (characters && characterNames.count(name))
            result += characterNames.at(name);
        else if (characters && name.size() == 3 && name[0] == 'x' && isxdigit(name[1]) && isxdigit(name[2]))
            result += static_cast<char>(std::stoi(name.substr(1), nullptr, 16));
        else if (star != std::string::npos && star > 0 && star + 1 < name.size() &&
                 name.find_first_not_of("0123456789", star + 1) == std::string::npos) {
            for (unsigned long n = std::stoul(name.substr(star + 1)); n > 0; n--)
                result += name.substr(0, star);
        } else {
            result += text[i];
            continue;
        }
        i = close;
    }
    return result;
}

namespace {

// Keywords whose lines up to "end" belong to them.
bool TakesBody(const std::string& keyword, const std::string& rest) {
    return keyword == "file" || keyword == "log" || keyword == "lines" ||
           (keyword == "content" && rest.find(" = ") == std::string::npos);
}

// The cells between the bars of "| a | b |".
std::vector<std::string> TableCells(const std::string& line) {
    std::vector<std::string> cells = SplitFields(line);
    return cells.size() < 2 ? std::vector<std::string>() : std::vector<std::string>(cells.begin() + 1, cells.end() - 1);
}

bool Refuse(const std::string& path, int number, const std::string& why) {
    std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), number, why.c_str());
    return false;
}

typedef std::vector<std::pair<int, std::string>> Lines;  // each with its number in the file

// The file's lines; "include <file>" brings in the lines of a file beside
// the scenarios' folders, numbered as the include.
bool ReadLines(const std::string& path, const std::string& root, int includedAt, Lines* lines) {
    std::ifstream in(path);
    if (!in)
        return Refuse(path, includedAt, "cannot read it");
    std::string text;
    for (int number = 1; std::getline(in, text); number++) {
        int at = includedAt ? includedAt : number;
        if (Trim(text).compare(0, 8, "include ") != 0)
            lines->push_back({at, text});
        else if (!ReadLines(root + "\\" + Trim(Trim(text).substr(8)), root, at, lines))
            return false;
    }
    return true;
}

// The lines after the one at `*at` up to "end", where `*at` is left, each
// without the indentation of two; false when no "end" comes.
bool UpToEnd(const Lines& lines, size_t* at, std::vector<std::string>* texts) {
    for (std::string text; ++*at < lines.size() && Trim(text = lines[*at].second) != "end";)
        texts->push_back(text.substr(std::min({text.find_first_not_of(' '), text.size(), size_t(2)})));
    return *at < lines.size();
}

// A table's header and rows: the columns of `row`, when it is there.
void ReadTable(const std::vector<std::string>& texts, const std::string& row,
               std::map<std::string, std::string>* columns) {
    std::vector<std::string> header;
    for (const std::string& text : texts) {
        std::vector<std::string> cells = Trim(text)[0] == '#' ? std::vector<std::string>() : TableCells(text);
        if (header.empty()) {
            header = cells;
        } else if (!cells.empty() && cells[0] == row) {
            for (size_t i = 0; i < cells.size() && i < header.size(); i++)
                (*columns)[header[i]] = cells[i];
        }
    }
}

// Strips the "[word, ...]" in front of a line; whether it is played: a word
// names a build or a row, commas or blanks separate them.
bool Played(std::string* line, const std::string& build, const std::string& row) {
    if ((*line)[0] != '[')
        return true;
    std::string tags = line->substr(1, line->find(']') - 1);
    *line = Trim(line->substr(line->find(']') + 1));
    std::replace(tags.begin(), tags.end(), ',', ' ');
    std::istringstream list(tags);
    return tags.empty() || std::any_of(std::istream_iterator<std::string>(list), {},
                                       [&](const std::string& word) { return word == build || word == row; });
}

}  // namespace

bool ReadScenario(const std::string& path, const std::string& row, const std::string& build, Scenario* scenario) {
    Lines lines;
    if (!ReadLines(path, path.substr(0, path.rfind("\\scenarios\\") + 10), 0, &lines))
        return false;
    scenario->Path = path;
    for (size_t at = 0; at < lines.size(); at++) {
        std::string line = Trim(lines[at].second);
        if (line == "table") {
            std::vector<std::string> body;
            UpToEnd(lines, &at, &body);
            ReadTable(body, row, &scenario->Columns);
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        bool played = Played(&line, build, row);
        size_t space = line.find(' ');
        ScenarioLine parsed = {lines[at].first, line.substr(0, space),
                               space == std::string::npos ? std::string() : Trim(line.substr(space + 1)), {}};
        if (TakesBody(parsed.Keyword, parsed.Rest) && !UpToEnd(lines, &at, &parsed.Body))
            return Refuse(path, parsed.Number, "no \"end\" after the body of " + parsed.Keyword);
        if (!played)
            parsed.Keyword = "#";  // read for its body, then skipped
        scenario->Lines.push_back(parsed);
    }
    if (!row.empty() && scenario->Columns.empty())  // a row found has a column at least: its name
        return Refuse(path, 0, "no row \"" + row + "\" in the table");
    const std::map<std::string, std::string>& columns = scenario->Columns;
    for (ScenarioLine& line : scenario->Lines) {
        // Characters only once the fields are split: {x7C} is no bar, {x20} survives trimming.
        line.Keyword = ExpandPlaceholders(line.Keyword, columns, false);  // a column may name it: exists or absent
        line.Rest = ExpandPlaceholders(line.Rest, columns, false);
        for (std::string& body : line.Body)
            body = ExpandPlaceholders(body, columns, false);
    }
    return true;
}
