// The few routines that the compiler may call on its own (block copies and
// fills of structures). setup.exe links no C runtime, so it brings its own.
// Built without loop-to-call pattern matching, so these loops never turn
// into calls to themselves.
#include <stddef.h>

extern "C" {

void* memset(void* target, int value, size_t count) {
    unsigned char* p = static_cast<unsigned char*>(target);
    while (count--)
        *p++ = static_cast<unsigned char>(value);
    return target;
}

void* memcpy(void* target, const void* source, size_t count) {
    unsigned char* t = static_cast<unsigned char*>(target);
    const unsigned char* s = static_cast<const unsigned char*>(source);
    while (count--)
        *t++ = *s++;
    return target;
}

void* memmove(void* target, const void* source, size_t count) {
    unsigned char* t = static_cast<unsigned char*>(target);
    const unsigned char* s = static_cast<const unsigned char*>(source);
    if (t < s) {
        while (count--)
            *t++ = *s++;
    } else {
        while (count--)
            t[count] = s[count];
    }
    return target;
}

int memcmp(const void* a, const void* b, size_t count) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < count; i++) {
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

}  // extern "C"
