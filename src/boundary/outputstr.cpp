#include "boundary/outputstr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Blocks are sized from the length alone: the smallest multiple of 16 above it, so there is
// always room for the terminator and no capacity field is needed in the 16-byte layout.
constexpr unsigned long long kBlockStep = 16;

unsigned long long BlockSizeFor(unsigned long long length) {
    return length == 0 ? 0 : (length + kBlockStep) & ~(kBlockStep - 1);
}

}  // namespace

outputstr::outputstr(const char* s) : outputstr() { Append(s); }

outputstr::outputstr(const outputstr& other) : outputstr() { Append(other.text); }

outputstr::outputstr(outputstr&& other) noexcept
    : text(std::exchange(other.text, nullptr)), length(std::exchange(other.length, 0)) {}

outputstr& outputstr::operator=(const outputstr& other) {
    if (this != &other) {
        outputstr copy(other);
        *this = std::move(copy);
    }
    return *this;
}

outputstr& outputstr::operator=(outputstr&& other) noexcept {
    if (this != &other) {
        std::free(text);
        text = std::exchange(other.text, nullptr);
        length = std::exchange(other.length, 0);
    }
    return *this;
}

outputstr::~outputstr() { std::free(text); }

void outputstr::Append(const char* s) {
    if (s == nullptr || *s == '\0') return;
    const unsigned long long added = std::strlen(s);
    const unsigned long long newLength = length + added;
    const unsigned long long needed = BlockSizeFor(newLength);
    if (needed > BlockSizeFor(length)) {
        // realloc leaves the old block alone when it fails, so the text stays as it was.
        void* grown = std::realloc(text, needed);
        if (grown == nullptr) throw OutputStrAllocError();
        text = static_cast<char*>(grown);
    }
    std::memcpy(text + length, s, added + 1);
    length = newLength;
}

outputstr operator+(outputstr left, const char* right) {
    left.Append(right);
    return left;
}

outputstr operator+(outputstr left, const outputstr& right) {
    left.Append(right.text);
    return left;
}

outputstr operator+(outputstr left, unsigned long number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%lu", number);
    left.Append(digits);
    return left;
}

outputstr operator+(outputstr left, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", number);
    left.Append(digits);
    return left;
}

outputstr operator+(outputstr left, char c) {
    const char one[2] = {c, '\0'};
    left.Append(one);
    return left;
}
