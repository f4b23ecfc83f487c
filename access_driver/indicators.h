#pragma once

#include <cstdint>

#include <sql.h>

namespace access_driver {

// mdbtools 1.0.0 stores lengths and NULL indicators through an int pointer
// into the client's 64-bit SQLLEN, so -1 (SQL_NULL_DATA) arrives as
// 4294967295; 1.0.1 writes all 64 bits. A sentinel in the buffer before the
// call tells the two apart on every call: only a 32-bit write leaves the
// sentinel's upper half, and then the lower half is sign-extended.
inline constexpr std::uint64_t kIndicatorSentinel = 0x5AFE1E4D5AFE1E4DULL;

struct PrimedIndicator {
  SQLLEN* where = nullptr;
  SQLLEN before = 0;
};

inline PrimedIndicator PrimeIndicator(SQLLEN* where) {
  if (!where) return {};
  PrimedIndicator primed{where, *where};
  *where = static_cast<SQLLEN>(kIndicatorSentinel);
  return primed;
}

inline void WidenIndicator(const PrimedIndicator& primed) {
  if (!primed.where) return;
  const auto now = static_cast<std::uint64_t>(*primed.where);
  if (now == kIndicatorSentinel) {
    *primed.where = primed.before;  // not written at all: as it was
  } else if ((now >> 32) == (kIndicatorSentinel >> 32)) {
    *primed.where = static_cast<std::int32_t>(static_cast<std::uint32_t>(now));
  }
}

}  // namespace access_driver
