// A buffer of `Size` bytes followed by guard bytes, to prove that a routine
// given the size writes nothing past it.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

struct GuardedBuffer {
    static const int GuardBytes = 32;
    static const char Guard = '\x5A';

    explicit GuardedBuffer(int size) : Size(size), Bytes(size + GuardBytes, Guard) {}
    char* Data() { return Bytes.data(); }
    std::string Text() const { return Bytes.data(); }
    bool GuardIntact() const { return std::count(Bytes.begin() + Size, Bytes.end(), Guard) == GuardBytes; }

    int Size;
    std::vector<char> Bytes;
};
