// A scenario file made ready to run: one row of its table chosen and its
// columns put in, comments and the lines of other builds and rows left out.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ScenarioLine {
    int Number;                     // in the file, for messages
    std::string Keyword;            // the first word
    std::string Rest;               // placeholders other than the columns not yet expanded
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

// {name} by its value, {nl} {cr} {tab} and {xNN} by characters (unless
// `characters` is false), {text*N} by N times the text; unknown names stay.
std::string ExpandPlaceholders(const std::string& text, const std::map<std::string, std::string>& values,
                               bool characters = true);
// The parts of a text between bars, each trimmed; a bar within one is {x7C}.
std::vector<std::string> SplitFields(const std::string& text);
std::string Trim(const std::string& text);
