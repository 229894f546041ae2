// Floating-point conversions of <charconv> for the WebAssembly build. The C++
// library that comes with the Debian Emscripten toolchain has the integer
// forms only; the program writes its CSV numbers as the shortest text that
// reads back to the same double and its fixed-point counts with printf's
// digits, and reads numbers back with from_chars. These overloads give the
// same text and values through the C library. The web build includes this
// header before every source file; the native build never sees it.
#pragma once

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace occusim_web {

// Shortest decimal digits that read back to v (v finite, not zero): digits
// without a point in `digits`, and the decimal exponent of the first digit.
inline int shortest_digits(double v, char *digits, int &exponent) {
    char text[40];
    for (int precision = 1; precision <= 17; precision++) {
        std::snprintf(text, sizeof text, "%.*e", precision - 1, v);
        if (std::strtod(text, nullptr) != v && precision < 17) continue;
        int n = 0;
        const char *c = text;
        for (; *c && *c != 'e'; c++)
            if (*c >= '0' && *c <= '9') digits[n++] = *c;
        while (n > 1 && digits[n - 1] == '0') n--;
        digits[n] = '\0';
        exponent = std::atoi(c + 1);
        return n;
    }
    return 0;
}

inline std::to_chars_result put(char *first, char *last, const std::string &s) {
    if (static_cast<std::size_t>(last - first) < s.size()) return {last, std::errc::value_too_large};
    std::memcpy(first, s.data(), s.size());
    return {first + s.size(), std::errc()};
}

} // namespace occusim_web

namespace std {

// Shortest round trip: fixed or scientific notation, whichever is shorter,
// fixed on a tie.
inline to_chars_result to_chars(char *first, char *last, double value) {
    std::string sign = std::signbit(value) ? "-" : "";
    if (std::isnan(value)) return occusim_web::put(first, last, sign + "nan");
    if (std::isinf(value)) return occusim_web::put(first, last, sign + "inf");
    if (value == 0) return occusim_web::put(first, last, sign + "0");
    char digits[32];
    int e = 0;
    const int n = occusim_web::shortest_digits(std::fabs(value), digits, e);
    std::string fixed;
    if (e < 0) {
        fixed = "0." + std::string(static_cast<std::size_t>(-e - 1), '0') + digits;
    } else if (e + 1 >= n) {
        fixed = std::string(digits) + std::string(static_cast<std::size_t>(e + 1 - n), '0');
    } else {
        fixed = std::string(digits, static_cast<std::size_t>(e + 1)) + "." + (digits + e + 1);
    }
    std::string sci(1, digits[0]);
    if (n > 1) sci += "." + std::string(digits + 1);
    char exp[8];
    std::snprintf(exp, sizeof exp, "e%c%02d", e < 0 ? '-' : '+', e < 0 ? -e : e);
    sci += exp;
    return occusim_web::put(first, last, sign + (sci.size() < fixed.size() ? sci : fixed));
}

// printf's %.*f and %.*e digits (exact decimal value, rounded to nearest).
inline to_chars_result to_chars(char *first, char *last, double value, chars_format fmt, int precision) {
    char text[400];
    const char *pattern = fmt == chars_format::scientific ? "%.*e" : fmt == chars_format::fixed ? "%.*f" : "%.*g";
    const int n = std::snprintf(text, sizeof text, pattern, precision, value);
    if (n < 0 || n >= static_cast<int>(sizeof text)) return {last, errc::value_too_large};
    return occusim_web::put(first, last, std::string(text, static_cast<std::size_t>(n)));
}

// A decimal number (no leading blanks, no '+', no hexadecimal form).
inline from_chars_result from_chars(const char *first, const char *last, double &value,
                                    chars_format = chars_format::general) {
    std::string text(first, last);
    const char *s = text.c_str();
    const char *body = *s == '-' ? s + 1 : s;
    const bool digit_or_point = (*body >= '0' && *body <= '9') || *body == '.';
    const bool word = *body == 'i' || *body == 'I' || *body == 'n' || *body == 'N';
    if (!(digit_or_point || word) || (body[0] == '0' && (body[1] == 'x' || body[1] == 'X')))
        return {first, errc::invalid_argument};
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (end == s) return {first, errc::invalid_argument};
    const char *ptr = first + (end - s);
    if (errno == ERANGE) return {ptr, errc::result_out_of_range};
    value = v;
    return {ptr, errc()};
}

} // namespace std
