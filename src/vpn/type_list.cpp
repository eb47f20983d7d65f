#include "vpn/type_list.h"

#include <algorithm>

namespace {

bool Holds(const uint32_t* types, uint32_t bufferBytes, uint32_t capacity, uint64_t wanted) {
    // Counted in 64 bits so that no list is long enough to wrap the byte count.
    return types != nullptr && bufferBytes != 0 && bufferBytes >= kBytesPerType * wanted &&
           capacity >= wanted;
}

}  // namespace

void AnswerTypeList(const std::vector<uint32_t>& found, uint32_t* types, uint32_t bufferBytes,
                    uint32_t* count, uint32_t* needed) {
    const auto wanted = static_cast<uint32_t>(found.size());
    *needed = wanted;
    if (!Holds(types, bufferBytes, *count, wanted)) {
        *count = 0;
        return;
    }
    std::copy(found.begin(), found.end(), types);
    *count = wanted;
}
