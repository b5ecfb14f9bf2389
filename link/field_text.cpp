#include "link/field_text.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <clocale>
#include <locale.h>
#ifdef _WIN32
#include <string>
#endif

namespace {

#ifndef _WIN32
// The C locale as an object of its own, so one thread can format in it without touching the
// process's locale that the other threads (and Qt) use.
locale_t c_locale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

struct in_c_locale {
    locale_t previous = static_cast<locale_t>(nullptr);
    in_c_locale() {
        if (c_locale()) previous = uselocale(c_locale());
    }
    ~in_c_locale() {
        if (previous) uselocale(previous);
    }
};
#else
// Windows has no uselocale; the C runtime has a locale per thread instead. This thread switches
// to a locale of its own, sets its numbers to the C conventions, and switches back afterwards,
// so the process's locale (which a desktop or a test may have set) stays as it was for the other
// threads. Formatting and parsing read the decimal point from the thread's locale.
struct in_c_locale {
    int mode;
    std::string numeric;
    in_c_locale() : mode(_configthreadlocale(_ENABLE_PER_THREAD_LOCALE)) {
        const char* now = std::setlocale(LC_NUMERIC, nullptr);
        numeric = now ? now : "C";
        std::setlocale(LC_NUMERIC, "C");
    }
    ~in_c_locale() {
        std::setlocale(LC_NUMERIC, numeric.c_str());
        if (mode == _DISABLE_PER_THREAD_LOCALE) _configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
    }
    in_c_locale(const in_c_locale&) = delete;
    in_c_locale& operator=(const in_c_locale&) = delete;
};
#endif

}  // namespace

int text_vformat(char* buf, size_t size, const char* fmt, va_list args) {
    in_c_locale c;
    return std::vsnprintf(buf, size, fmt, args);
}

int text_format(char* buf, size_t size, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int n = text_vformat(buf, size, fmt, args);
    va_end(args);
    return n;
}

std::string text_printf(const char* fmt, ...) {
    char small[256];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = text_vformat(small, sizeof small, fmt, args);
    va_end(args);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (size_t(n) < sizeof small) {
        out.assign(small, size_t(n));
    } else {
        out.resize(size_t(n) + 1);
        text_vformat(out.data(), out.size(), fmt, again);
        out.resize(size_t(n));
    }
    va_end(again);
    return out;
}

namespace {

double c_strtod(const char* text, char** end) {
#ifndef _WIN32
    if (c_locale()) return strtod_l(text, end, c_locale());
#else
    in_c_locale c;
#endif
    return std::strtod(text, end);
}

}  // namespace

double text_to_double(const char* text, char** end) {
    // Decimal numbers only: the C library would also read "0x10" as 16 (and "0x1p3" as 8),
    // which no field of the tool means. Such a text reads as its leading "0".
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '+' || *p == '-') ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        const std::string head(text, size_t(p + 1 - text));
        char* head_end = nullptr;
        const double v = c_strtod(head.c_str(), &head_end);
        if (end) *end = const_cast<char*>(text) + (head_end - head.c_str());
        return v;
    }
    return c_strtod(text, end);
}

namespace {

std::string_view trimmed(std::string_view text) {
    size_t i = 0, end = text.size();
    while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(i, end - i);
}

}  // namespace

bool field_whole(std::string_view text, uint64_t* out) {
    const std::string_view digits = trimmed(text);
    if (digits.empty()) return false;
    uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = uint64_t(c - '0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    *out = value;
    return true;
}

uint64_t field_unsigned(std::string_view text) {
    uint64_t value = 0;
    return field_whole(text, &value) ? value : 0;
}

uint32_t field_unsigned_max(std::string_view text, uint32_t max) {
    const uint64_t v = field_unsigned(text);
    return v > max ? max : uint32_t(v);
}

bool field_decimal(std::string_view text, double* out) {
    // Longer texts would be read cut at 23 characters: "0.000000000000000000000015" as 0.
    if (text.size() > 23) return false;
    const std::string number(trimmed(text));
    if (number.empty()) return false;
    char* end = nullptr;
    const double v = text_to_double(number.c_str(), &end);
    if (end != number.c_str() + number.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool field_rule_accepts(const field_rule& rule, std::string_view text) {
    double v = 0;
    if (trimmed(text).empty()) {
        if (!rule.empty_is_zero) return false;
    } else if (rule.decimal) {
        if (!field_decimal(text, &v)) return false;
    } else {
        uint64_t whole = 0;
        if (!field_whole(text, &whole)) return false;
        v = double(whole);
    }
    if (rule.above_min ? !(v > rule.min) : !(v >= rule.min)) return false;
    return rule.saturates || v <= rule.max;
}

std::string field_rule_text(const field_rule& rule) {
    const std::string unit = *rule.unit ? text_printf(" (%s)", rule.unit) : std::string();
    std::string text = rule.above_min
                           ? text_printf("A %snumber above %.15g and up to %.15g%s", rule.decimal ? "" : "whole ", rule.min,
                                         rule.max, unit.c_str())
                           : text_printf("A %snumber from %.15g to %.15g%s", rule.decimal ? "" : "whole ", rule.min,
                                         rule.max, unit.c_str());
    if (rule.decimal) text += ", written with a decimal point (2.5)";
    text += ".";
    if (rule.saturates) text += text_printf(" A larger one is saved as %.15g.", rule.max);
    if (rule.empty_is_zero) text += " Empty means 0.";
    return text;
}

bool field_double(std::string_view text, double* out) {
    const std::string head(text.substr(0, 23));
    const double v = text_to_double(head.c_str());
    if (!std::isfinite(v)) {
        *out = 0;
        return false;
    }
    *out = v;
    return true;
}
