#include "reliability/mutation.h"

namespace {

void FlipCharacter(std::string& text, const std::string& characters, FixedRandom& random) {
    if (!text.empty())
        text[random.Below(text.size())] = characters[random.Below(characters.size())];
}

void InsertCharacter(std::string& text, const std::string& characters, FixedRandom& random) {
    text.insert(random.Below(text.size() + 1), 1, characters[random.Below(characters.size())]);
}

// 200 to 699 characters: beyond every buffer of the program.
void InsertLongRun(std::string& text, FixedRandom& random) {
    text.insert(random.Below(text.size() + 1), 200 + random.Below(500), "xyzv"[random.Below(4)]);
}

void MutateCharacters(std::string& text, const std::string& characters, FixedRandom& random) {
    switch (random.Below(5)) {
    case 0:
    case 1:
        FlipCharacter(text, characters, random);
        break;
    case 2:
    case 3:
        InsertCharacter(text, characters, random);
        break;
    default:
        InsertLongRun(text, random);
        break;
    }
}

}  // namespace

std::string Mutate(const std::vector<std::string>& original, const MutationAlphabet& alphabet, FixedRandom& random) {
    std::vector<std::string> lines = original;
    size_t mutations = 1 + random.Below(4);
    for (size_t m = 0; m < mutations && !lines.empty(); m++) {
        size_t at = random.Below(lines.size());
        switch (random.Below(alphabet.SectionNames.empty() ? 6 : 7)) {
        case 0:
            lines.erase(lines.begin() + at);
            break;
        case 1:
            lines.insert(lines.begin() + at, lines[at]);
            break;
        case 2:
            std::swap(lines[at], lines[random.Below(lines.size())]);
            break;
        case 3:
        case 4:
        case 5:
            MutateCharacters(lines[at], alphabet.Characters, random);
            break;
        default:
            lines.insert(lines.begin() + at,
                         "[" + alphabet.SectionNames[random.Below(alphabet.SectionNames.size())] + "]");
            break;
        }
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::string MutateLine(const std::string& line, const std::string& characters, FixedRandom& random) {
    std::string text = line;
    size_t mutations = 1 + random.Below(3);
    for (size_t m = 0; m < mutations; m++)
        MutateCharacters(text, characters, random);
    return text;
}
