#include "runner/runner.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

namespace {

typedef std::vector<std::pair<int, std::string>> Numbered;  // each line with its number in the file

bool Refuse(const std::string& path, int number, const std::string& why) {
    std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), number, why.c_str());
    return false;
}

// Whether the words of a line's "[word, ...]" name the build or the row
// (no word names every one).
bool Names(std::string words, const Scenario& scenario) {
    std::replace(words.begin(), words.end(), ',', ' ');
    words = " " + words + " ";
    return Trim(words).empty() || words.find(" " + scenario.Build + " ") != std::string::npos ||
           (!scenario.Row.empty() && words.find(" " + scenario.Row + " ") != std::string::npos);
}

// Scenario files are UTF-8; the program reads and writes ANSI text in the
// code page of the scenario's locale, and so does the runner.
std::string InCodePage(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    std::string text(wide.size() * 2, '\0');
    text.resize(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0],
                                    static_cast<int>(text.size()), nullptr, nullptr));
    return text;
}

// The file's lines; "include <file>" brings in the lines of a file under
// `root`, numbered as the include, "[word ...] include <file>" only for the
// builds and rows it names.
bool ReadLines(const std::string& path, const Scenario& scenario, int includedAt, Numbered* lines) {
    std::ifstream in(path);
    if (!in)
        return Refuse(path, includedAt, "cannot read it");
    std::string text;
    for (int number = 1; std::getline(in, text); number++) {
        int at = includedAt ? includedAt : number;
        std::string line = Trim(text);
        size_t close = line[0] == '[' ? line.find("] include ") : std::string::npos;
        if (close != std::string::npos && !Names(line.substr(1, close - 1), scenario))
            continue;
        line = close == std::string::npos ? line : line.substr(close + 2);
        if (line.compare(0, 8, "include ") != 0)
            lines->push_back({at, InCodePage(text)});
        else if (!ReadLines(scenario.Tests + "\\scenarios\\" + Trim(line.substr(8)), scenario, at, lines))
            return false;
    }
    return true;
}

// The lines after the one at `*at` up to "end", where `*at` is left, each
// without the indentation of two; false when no "end" comes.
bool UpToEnd(const Numbered& lines, size_t* at, Fields* texts) {
    for (std::string text; ++*at < lines.size() && Trim(text = lines[*at].second) != "end";)
        texts->push_back(text.substr(std::min({text.find_first_not_of(' '), text.size(), size_t(2)})));
    return *at < lines.size();
}

// The cells of the row's line of a table under the names of its header.
void ReadRow(const Fields& table, const std::string& row, Placeholders* columns) {
    Fields header;
    for (const std::string& line : table) {
        Fields cells = SplitFields(line);  // "| a | b |": empty before the first bar and after the last
        if (cells.size() < 3 || Trim(line)[0] == '#')
            continue;
        if (header.empty())
            header.assign(cells.begin() + 1, cells.end() - 1);
        else if (cells[1] == row)
            for (size_t i = 0; i + 2 < cells.size() && i < header.size(); i++)
                (*columns)[header[i]] = cells[i + 1];
    }
}


}  // namespace

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

Fields SplitFields(const std::string& text) {
    Fields fields;
    size_t start = 0;
    for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(Trim(text.substr(start, bar - start)));
    fields.push_back(Trim(text.substr(start)));
    return fields;
}

std::string ExpandPlaceholders(const std::string& text, const Placeholders& values, bool characters) {
    static const Placeholders characterNames = {{"nl", "\n"}, {"cr", "\r"}, {"tab", "\t"}};
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

bool ReadScenario(Scenario& scenario) {
    Numbered lines;
    if (!ReadLines(scenario.File, scenario, 0, &lines))
        return false;
    for (size_t at = 0; at < lines.size(); at++) {
        std::string text = Trim(lines[at].second);
        if (text == "table") {
            Fields table;
            UpToEnd(lines, &at, &table);
            ReadRow(table, scenario.Row, &scenario.Columns);
            continue;
        }
        if (text.empty() || text[0] == '#')
            continue;
        bool kept = true;
        if (text[0] == '[') {
            size_t close = text.find(']');
            kept = Names(text.substr(1, close - 1), scenario);
            text = Trim(text.substr(close + 1));
        }
        bool now = text.compare(0, 4, "now ") == 0;
        text = now ? Trim(text.substr(4)) : text;
        size_t space = std::min(text.find(' '), text.size());
        ScenarioLine line = {lines[at].first, text.substr(0, space), Trim(text.substr(space)), {}, now};
        bool body = line.Keyword == "file" || line.Keyword == "log" || line.Keyword == "lines" ||
                    (line.Keyword == "content" && line.Rest.find(" = ") == std::string::npos);
        if (body && !UpToEnd(lines, &at, &line.Body))
            return Refuse(scenario.File, line.Number, "no \"end\" after the body of " + line.Keyword);
        if (kept)
            scenario.Lines.push_back(line);
    }
    if (!scenario.Row.empty() && scenario.Columns.empty())  // a row found has a column at least: its name
        return Refuse(scenario.File, 0, "no row \"" + scenario.Row + "\" in the table");
    for (ScenarioLine& line : scenario.Lines) {
        // Characters only once the fields are split: {x7C} is no bar, {x20} survives trimming.
        line.Keyword = ExpandPlaceholders(line.Keyword, scenario.Columns, false);  // a column may name it
        line.Rest = ExpandPlaceholders(line.Rest, scenario.Columns, false);
        for (std::string& body : line.Body)
            body = ExpandPlaceholders(body, scenario.Columns, false);
    }
    return true;
}
