// The texts the program shows in its message boxes, as format strings, and a
// matcher that tells whether a shown text is one of them.
#pragma once

#include <string>
#include <vector>

#include "support/responder.h"

// True when `text` is what one of the program's formats gives: every
// conversion (%s, %S, %u, %d, %c, %X, %08X, %04X...) stands for any text, the
// rest must match exactly. A text of 255 characters, the most a reported
// message keeps, may end anywhere inside its format.
bool IsProgramText(const std::string& text);

// The texts among `boxes` that are not the program's own, one per line;
// empty when every box showed one of its texts.
std::string ForeignTexts(const std::vector<RecordedBox>& boxes);
