#include "runner/scenario.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

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

// Whether a line tagged "[word, ...]" is played: a word names a build or a
// row; commas or blanks separate them.
bool TaggedFor(std::string tags, const std::string& build, const std::string& row) {
    std::replace(tags.begin(), tags.end(), ',', ' ');
    std::istringstream list(tags);
    for (std::string word; list >> word;) {
        if (word == build || word == row)
            return true;
    }
    return false;
}

bool Refuse(const std::string& path, int number, const std::string& why) {
    std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), number, why.c_str());
    return false;
}

}  // namespace

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
        }
        else {
            result += text[i];
            continue;
        }
        i = close;
    }
    return result;
}

// The file's lines, each with its number; "include <file>" brings in the
// lines of a file beside the scenarios' folders, numbered as the include.
bool ReadLines(const std::string& path, const std::string& root, int includedAt,
               std::vector<std::pair<int, std::string>>* lines) {
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

bool ReadScenario(const std::string& path, const std::string& row, const std::string& build, Scenario* scenario) {
    std::vector<std::pair<int, std::string>> lines;
    if (!ReadLines(path, path.substr(0, path.rfind("\\scenarios\\") + 10), 0, &lines))
        return false;
    scenario->Path = path;
    std::map<std::string, std::string>& columns = scenario->Columns;
    std::vector<std::string> header;
    bool inTable = false;
    bool rowFound = row.empty();
    ScenarioLine* open = nullptr;
    for (const auto& [number, text] : lines) {
        std::string line = Trim(text);
        if (open) {
            if (line == "end")
                open = nullptr;
            else  // indented two
                open->Body.push_back(text.substr(std::min({text.find_first_not_of(' '), text.size(), size_t(2)})));
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        if (inTable) {
            if (line == "end") {
                inTable = false;
            } else if (header.empty()) {
                header = TableCells(line);
            } else {
                std::vector<std::string> cells = TableCells(line);
                if (!cells.empty() && cells[0] == row) {
                    rowFound = true;
                    for (size_t i = 0; i < cells.size() && i < header.size(); i++)
                        columns[header[i]] = cells[i];
                }
            }
            continue;
        }
        if (line == "table") {
            inTable = true;
            continue;
        }
        std::string only;
        if (line[0] == '[') {
            only = line.substr(1, line.find(']') - 1);
            line = Trim(line.substr(line.find(']') + 1));
        }
        size_t space = line.find(' ');
        ScenarioLine parsed = {number, line.substr(0, space),
                               space == std::string::npos ? std::string() : Trim(line.substr(space + 1)), {}};
        scenario->Lines.push_back(parsed);
        if (TakesBody(parsed.Keyword, parsed.Rest))
            open = &scenario->Lines.back();
        if (!only.empty() && !TaggedFor(only, build, row))
            scenario->Lines.back().Keyword = "#";  // read for its body, then skipped
    }
    if (open)
        return Refuse(path, open->Number, "no \"end\" after the body of " + open->Keyword);
    if (!rowFound)
        return Refuse(path, 0, "no row \"" + row + "\" in the table");
    for (ScenarioLine& line : scenario->Lines) {
        // Characters only once the fields are split: {x7C} is no bar, {x20} survives trimming.
        line.Keyword = ExpandPlaceholders(line.Keyword, columns, false);  // a column may name it: exists or absent
        line.Rest = ExpandPlaceholders(line.Rest, columns, false);
        for (std::string& body : line.Body)
            body = ExpandPlaceholders(body, columns, false);
    }
    return true;
}
