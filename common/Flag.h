// The system's Boolean: 16 bits, true is all bits set.
#pragma once

#include <cstdint>

namespace vandrel {

using Flag = std::int16_t;
inline constexpr Flag kTrue = -1;
inline constexpr Flag kFalse = 0;

inline constexpr Flag ToFlag(bool value) {
    return value ? kTrue : kFalse;
}

} // namespace vandrel
