// The one way a list of plug-in kinds is handed to a caller's buffer, shared by the
// configuration's enabled kinds and the detector's connected kinds.
#pragma once

#include <cstdint>
#include <vector>

// Each kind occupies one 32-bit element of a caller's buffer.
inline constexpr uint64_t kBytesPerType = sizeof(uint32_t);

// Copies all of `found` when both the buffer's size and the capacity in *count hold it;
// otherwise writes nothing to `types` and sets *count to 0. *needed is always found's size,
// so a caller may first ask with no buffer and then again with enough room.
void AnswerTypeList(const std::vector<uint32_t>& found, uint32_t* types, uint32_t bufferBytes,
                    uint32_t* count, uint32_t* needed);
