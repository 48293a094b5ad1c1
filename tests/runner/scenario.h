// Reading a scenario (tests/scenarios/README.md): its lines and included
// ones, the columns of the row chosen from its table, the lines the build
// and the row keep, and the placeholders in a text.
#pragma once

#include <map>
#include <string>
#include <vector>

typedef std::vector<std::string> Fields;
typedef std::map<std::string, std::string> Placeholders;  // name without braces, value

struct ScenarioLine {
    int Number;           // in the file, for messages
    std::string Keyword;  // the first word
    std::string Rest;     // placeholders other than the columns not yet expanded
    Fields Body;          // the lines up to "end", for keywords that take one
    bool Now;             // "now <check>": the check made at once
};

struct Scenario {
    std::string File, Build, Row;     // Row is empty for a file without a table
    std::string Tests;                // the folder of scenarios/ (what "include" names) and products/
    std::vector<ScenarioLine> Lines;  // those of this build and row, their columns expanded
    Placeholders Columns;             // of this row
};

std::string Trim(const std::string& text);

// The parts of a text between bars, each trimmed; a bar within one is {x7C}.
Fields SplitFields(const std::string& text);

// {name} by its value, {nl} {cr} {tab} and {xNN} by characters (unless
// `characters` is false), {text*N} by N times the text; unknown names stay.
std::string ExpandPlaceholders(const std::string& text, const Placeholders& values, bool characters = true);

// False, said on standard error, for a file unread, a row not in the table, a body without "end".
bool ReadScenario(Scenario& scenario);
