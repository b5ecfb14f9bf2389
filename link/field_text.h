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
