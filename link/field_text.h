// Numbers in texts: formatted and read in the C conventions ("2.5", never "2,5") whatever the
// desktop locale, and the one reading of numeric fields that every dialog and command uses.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#define TEXT_PRINTF(fmt_index) __attribute__((format(printf, fmt_index, fmt_index + 1)))

// vsnprintf / snprintf with the C conventions for numbers.
int text_vformat(char* buf, size_t size, const char* fmt, va_list args);
int text_format(char* buf, size_t size, const char* fmt, ...) TEXT_PRINTF(3);
// The whole formatted text, however long.
std::string text_printf(const char* fmt, ...) TEXT_PRINTF(1);

// strtod with the C conventions: the leading number of text, 0.0 when there is none.
double text_to_double(const char* text, char** end = nullptr);

// An unsigned decimal field as typed: blanks around the digits are allowed; anything else (a
// sign, a letter, a decimal point, nothing at all) makes it a non-number, which reads 0. The
// true value saturates at UINT64_MAX, so range checks see it whatever the field's wire width.
uint64_t field_unsigned(std::string_view text);
// The same, stopped at max: what a wire field of that range receives.
uint32_t field_unsigned_max(std::string_view text, uint32_t max);

// A decimal number field: its first 23 characters read as text_to_double does (0.0 when they
// hold no number). False for values that are not finite ("nan", "inf", "1e999"), which no
// field accepts; *out is then 0.
bool field_double(std::string_view text, double* out);

// ---- what a field accepts ----------------------------------------------------------------------
//
// The readers above turn any text into a number, which is what the wire needs once a field has
// been accepted. Whether it may be accepted is asked first: a field whose text is not wholly a
// number of its kind ("12,5", "-5", "abc", "10.000" in a whole-number field; "2,5" in a decimal
// one) is refused, so no text is ever sent as another number.

// Digits only, blanks around them allowed: the true value (saturating at UINT64_MAX). False for
// anything else, the empty text included.
bool field_whole(std::string_view text, uint64_t* out);
// One finite decimal number in the C conventions and nothing else (blanks around it allowed), in
// at most 23 characters (what the readers take). False for the empty text, "2,5", "1.5 bar",
// hexadecimal, "nan" and "inf".
bool field_decimal(std::string_view text, double* out);

// A numeric field's rule: its kind, its range and unit, what lies beyond its top, and whether
// an empty field stands for 0.
struct field_rule {
    bool decimal = false;     // false: a whole number
    double min = 0;
    double max = 0;
    bool above_min = false;   // min itself is refused (a volume to pump must be more than 0)
    bool saturates = false;   // a larger number is taken as max, the most its wire field holds
    bool empty_is_zero = false;
    const char* unit = "";    // "seconds", "bar"; "" for a plain count
};
// Whether text is a number the rule takes.
bool field_rule_accepts(const field_rule& rule, std::string_view text);
// What the field takes, in a sentence (for its tooltip): "A whole number of seconds from 0 to
// 65535 (a larger one is saved as 65535)."
std::string field_rule_text(const field_rule& rule);
