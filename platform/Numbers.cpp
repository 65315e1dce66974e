#include "platform/Numbers.h"

#include <charconv>
#include <cmath>
#include <string>

#include "platform/Fault.h"

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
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') number += '-';
        ++i;
        skipBlanks();
    }
    bool digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        number += text[i++];
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            number += text[i++];
            digits = true;
        }
    }
    if (!digits) return 0;
    if (number.back() == '.') number.pop_back();
    if (number.front() == '.' || (number.size() > 1 && number[0] == '-' && number[1] == '.')) {
        number.insert(number.front() == '-' ? 1 : 0, "0");
    }
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
