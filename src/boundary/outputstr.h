// Internal side of the library's text type: the concatenation operators every message is
// built with, and the allocation failure they raise.
#pragma once

#include <linkset/outputstr.h>

#include <new>

// What a failed growth of an outputstr throws. Callers treat it as any std::bad_alloc.
class OutputStrAllocError : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "outputstr failed to allocate memory"; }
};

outputstr operator+(outputstr left, const char* right);
outputstr operator+(outputstr left, const outputstr& right);
outputstr operator+(outputstr left, unsigned long number);  // unsigned decimal, no padding
outputstr operator+(outputstr left, int number);            // "%d"
outputstr operator+(outputstr left, char c);                 // '\0' adds nothing
