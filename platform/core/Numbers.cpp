#include "platform/core/Numbers.h"

#include <charconv>
#include <cmath>
#include <string>

#include "platform/core/Fault.h"

namespace fotolane {

std::int32_t RoundHalfEven(double value) {
    // nearbyint rounds in the current rounding mode, which the program never
    // changes from round-to-nearest-even.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        throw Fault::Overflow();
    }
    return static_cast<std::int32_t>(rounded);
}

std::int32_t ReadNumber(std::string_view text) {
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skipBlanks();
    // The number is copied into a plain "[-]digits[.digits]" text for
    // from_chars, which reads it the same way in every locale.
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') number += '-';
        ++i;
        skipBlanks();
    }
    number += '0';  // so that ".5" reads as "0.5"
    bool digits = false;
    auto takeDigits = [&] {
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            number += text[i++];
            digits = true;
        }
    };
    takeDigits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        const std::size_t mark = number.size();
        number += '.';
        takeDigits();
        if (number.size() == mark + 1) number.pop_back();
    }
    if (!digits) return 0;
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) throw Fault::Overflow();
    if (error != std::errc() || end != number.data() + number.size()) return 0;
    return RoundHalfEven(value);
}

std::int32_t CheckedAdd(std::int32_t a, std::int32_t b) {
    std::int32_t result = 0;
    if (__builtin_add_overflow(a, b, &result)) throw Fault::Overflow();
    return result;
}

std::int32_t CheckedMul(std::int32_t a, std::int32_t b) {
    std::int32_t result = 0;
    if (__builtin_mul_overflow(a, b, &result)) throw Fault::Overflow();
    return result;
}

}  // namespace fotolane
