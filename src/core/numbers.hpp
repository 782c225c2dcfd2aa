#pragma once
// Numbers read strictly: the whole token must be a number of the expected
// kind, so that a typo in a flag or a file never silently becomes 0.
#include <cstdint>
#include <string>

// An optionally signed decimal integer that fits in 32 bits, and nothing
// else: no blanks, no other characters.
bool parse_int32(const char* first, const char* last, std::int32_t& value);
inline bool parse_int32(const std::string& token, std::int32_t& value) {
  return parse_int32(token.data(), token.data() + token.size(), value);
}
