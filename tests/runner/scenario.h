// A scenario file, read and made ready to run: comments and blank lines
// gone, one row of its table chosen and its columns put in, the lines of
// the other build and of the other rows left out.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ScenarioLine {
    int Number;           // in the file, for messages
    std::string Keyword;  // the first word
    std::string Rest;     // the rest of the line, placeholders not yet expanded
    std::vector<std::string> Body;  // the lines up to "end", for keywords that take one
};

struct Scenario {
    std::string Path;
    std::vector<ScenarioLine> Lines;
    std::map<std::string, std::string> Columns;  // of the chosen row
};

// False, with a message on standard error, when the file cannot be read, the
// row is not in its table or a body has no "end".
bool ReadScenario(const std::string& path, const std::string& row, const std::string& build, Scenario* scenario);

// Replaces {name} by its value, {nl}, {cr} and {tab} by those characters and
// {xNN} by the byte of that hex value (unless `characters` is false),
// {text*N} by N times the text; an unknown name stays as written.
std::string ExpandPlaceholders(const std::string& text, const std::map<std::string, std::string>& values,
                               bool characters = true);
// The parts of a text between bars ("|"), each trimmed; a bar within a
// field is written {x7C}.
std::vector<std::string> SplitFields(const std::string& text);
std::string Trim(const std::string& text);
