#include "core/numbers.hpp"

bool parse_int32(const char* first, const char* last, std::int32_t& value) {
  bool negative = false;
  if (first < last && (*first == '+' || *first == '-')) {
    negative = *first == '-';
    ++first;
  }
  if (first == last) return false;
  std::int64_t magnitude = 0;
  for (; first < last; ++first) {
    const unsigned digit = static_cast<unsigned char>(*first) - '0';
    if (digit > 9) return false;
    magnitude = magnitude * 10 + digit;
    if (magnitude > std::int64_t(1) << 31) return false;
  }
  const std::int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT32_MAX) return false;
  value = static_cast<std::int32_t>(signed_value);
  return true;
}
