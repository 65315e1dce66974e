#pragma once

#include <cstdint>
#include <string_view>

namespace fotolane {

// Rounds to the nearest integer, a half going to the even neighbour, and
// keeps the result as a signed 32-bit integer. A value outside that range
// (or not a number) is an "Overflow" fault.
std::int32_t RoundHalfEven(double value);

// The number typed into a text box: the decimal number at the start of the
// text (leading blanks skipped; optional sign and fraction; 0 when the text
// does not start with one), rounded half to even to a signed 32-bit integer.
// Beyond that range it is an "Overflow" fault. Independent of the locale.
std::int32_t ReadNumber(std::string_view text);

// Signed 32-bit arithmetic that raises "Overflow" instead of wrapping.
std::int32_t CheckedAdd(std::int32_t a, std::int32_t b);
std::int32_t CheckedMul(std::int32_t a, std::int32_t b);

}  // namespace fotolane
