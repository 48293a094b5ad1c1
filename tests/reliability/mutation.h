// A fixed pseudo-random source and the text mutations the reliability tests
// apply to valid inputs.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// xorshift32 from a fixed start value: every run mutates the same way.
class FixedRandom {
public:
    explicit FixedRandom(uint32_t start) : state_(start) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // 0 .. bound - 1 (bound > 0).
    size_t Below(size_t bound) { return Next() % bound; }

private:
    uint32_t state_;
};

// What may be put into a text: characters that are drawn for flips and
// insertions, and header names that may be inserted as sections.
struct MutationAlphabet {
    std::string Characters;
    std::vector<std::string> SectionNames;
};

// Applies 1 to 4 mutations to the lines of a text (joined with CR LF after):
// delete, duplicate or swap lines; flip a character; insert a character of
// the alphabet; a very long value; a section header (none when the alphabet
// has no names).
std::string Mutate(const std::vector<std::string>& lines, const MutationAlphabet& alphabet, FixedRandom& random);

// Applies 1 to 3 character mutations to one line: flip, insert, long run.
std::string MutateLine(const std::string& line, const std::string& characters, FixedRandom& random);
