#include "backup/json_io.h"

#include "link/device_time.h"
#include "link/field_text.h"
#include "sampler/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <istream>
#include <limits>

bool json_read_stream(std::istream& in, std::string& text, std::string& error) {
    text.clear();
    char chunk[16384];
    while (in) {
        in.read(chunk, sizeof chunk);
        const auto n = size_t(in.gcount());
        if (text.size() + n > JSON_INPUT_MAX) {
            error = "it holds more than 1 MiB";
            return false;
        }
        text.append(chunk, n);
    }
    if (in.bad()) {
        error = "it cannot be read";
        return false;
    }
    return true;
}

bool json_read_file(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "it cannot be opened";
        return false;
    }
    return json_read_stream(in, text, error);
}

namespace {

// The deepest nesting of arrays and objects, brackets inside strings not counted; stops
// counting once past limit.
int json_depth(std::string_view text, int limit) {
    int depth = 0, deepest = 0;
    bool in_string = false, escaped = false;
    for (const char c : text) {
        if (in_string) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') in_string = false;
            continue;
        }
        if (c == '"') in_string = true;
        else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > limit) return deepest;
        } else if (c == ']' || c == '}') --depth;
    }
    return deepest;
}

}  // namespace

bool json_parse_object(std::string_view text, json& out, std::string& error) {
    // The parser keeps its own stack, but copying or destroying a value recurses once per level:
    // a file of 100 KB of '[' would exhaust the stack long before the parser complained.
    if (json_depth(text, JSON_DEPTH_MAX) > JSON_DEPTH_MAX) {
        error = text_printf("it nests deeper than %d levels", JSON_DEPTH_MAX);
        return false;
    }
    json parsed = json::parse(text.begin(), text.end(), nullptr, false);
    if (parsed.is_discarded()) {
        error = "it is not JSON";
        return false;
    }
    if (!parsed.is_object()) {
        error = "it is not a JSON object";
        return false;
    }
    out = std::move(parsed);
    return true;
}

std::string json_text(const json& doc) {
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string json_value_text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

json json_document() {
    json doc;
    doc["format"] = JSON_FORMAT;
    return doc;
}

json json_float(float value) {
    if (!std::isfinite(value)) return nullptr;
    for (int digits = 1; digits <= 9; ++digits) {
        const std::string text = text_printf("%.*g", digits, double(value));
        const double back = text_to_double(text.c_str());
        if (float(back) == value) return back;
    }
    return double(value);  // nine digits always read back; kept for the compiler
}

json json_double(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json json_device_time(uint32_t t) {
    calendar_fields f;
    // Only moments from 1970 on, which the same text reads back as: the window shows
    // 0xFFFFFFFF as 31/12/1969 23:59:59, which no clock or picker takes.
    if (t > 0x7FFFFFFFu || !device_time_to_fields(t, f)) return nullptr;
    return text_printf("%04d-%02d-%02dT%02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
}

bool json_parse_moment(const std::string& text, uint32_t* device_time) {
    calendar_fields f{};
    char separator = 0;
    int used = 0;
    if (text.size() != 19 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &f.year, &f.month, &f.day,
                                         &separator, &f.hour, &f.minute, &f.second, &used) != 7)
        return false;
    if (size_t(used) != text.size() || (separator != 'T' && separator != ' ')) return false;
    // Every digit where a digit belongs: sscanf would also take " 7" or "+7".
    for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u})
        if (text[i] < '0' || text[i] > '9') return false;
    if (!clock_fields_valid(f)) return false;
    *device_time = device_time_from_fields(f);
    return true;
}

json_fields::json_fields(const json& object, std::string path) : object_(object), path_(std::move(path)) {
    if (!object_.is_object()) error = (path_.empty() ? std::string("the document") : path_) + " must be an object";
}

std::string json_fields::name(const char* key) const { return path_.empty() ? std::string(key) : path_ + "." + key; }

bool json_fields::fail(const std::string& message) {
    if (error.empty()) error = message;
    return false;
}

void json_fields::allow(const char* key) { seen_.emplace_back(key); }

bool json_fields::has(const char* key) const {
    if (!object_.is_object()) return false;
    const auto it = object_.find(key);
    return it != object_.end() && !it->is_null();
}

const json* json_fields::get(const char* key) {
    allow(key);
    if (!has(key)) return nullptr;
    return &*object_.find(key);
}

bool json_fields::get_bool(const char* key, bool* out) {
    const json* v = get(key);
    if (!v) return error.empty();
    if (!v->is_boolean()) return fail(name(key) + " must be true or false");
    *out = v->get<bool>();
    return true;
}

bool json_fields::get_uint(const char* key, uint64_t max, uint64_t* out) { return get_uint(key, 0, max, out); }

bool json_fields::get_uint(const char* key, uint64_t min, uint64_t max, uint64_t* out) {
    const json* v = get(key);
    if (!v) return error.empty();
    const std::string range = " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    if (!v->is_number_unsigned()) return fail(name(key) + range);
    const uint64_t n = v->get<uint64_t>();
    if (n < min || n > max) return fail(name(key) + range);
    *out = n;
    return true;
}

bool json_fields::get_number(const char* key, double* out, bool float_range) {
    const json* v = get(key);
    if (!v) return error.empty();
    if (!v->is_number()) return fail(name(key) + " must be a number");
    const double d = v->get<double>();
    // A float holds every number that rounds to at most its largest value; beyond half a step
    // above that, it would be infinite. ("3.4028235e+38", the shortest text of the largest
    // float, lies a little above it.)
    const double float_limit = double(std::numeric_limits<float>::max()) + std::ldexp(1.0, 103);
    if (!std::isfinite(d) || (float_range && !(std::fabs(d) < float_limit)))
        return fail(name(key) + (float_range ? " must be a number that a single-precision value holds"
                                             : " must be a finite number"));
    *out = d;
    return true;
}

bool json_fields::get_string(const char* key, std::string* out) {
    const json* v = get(key);
    if (!v) return error.empty();
    if (!v->is_string()) return fail(name(key) + " must be a text");
    *out = v->get<std::string>();
    return true;
}

bool json_fields::get_uint_kept(const char* key, uint64_t min, uint64_t max, uint64_t kept, uint64_t* out) {
    const json* v = get(key);
    if (!v) return error.empty();
    if (v->is_number_unsigned() && v->get<uint64_t>() == kept) {
        *out = kept;
        return true;
    }
    return get_uint(key, min, max, out);
}

bool json_fields::finish() {
    if (!error.empty()) return false;
    for (auto it = object_.begin(); it != object_.end(); ++it)
        if (std::find(seen_.begin(), seen_.end(), it.key()) == seen_.end())
            return fail(name(it.key().c_str()) + " is not a field of this document");
    return true;
}

bool json_check_format(json_fields& fields) {
    uint64_t format = JSON_FORMAT;
    if (!fields.get_uint("format", 0, UINT32_MAX, &format)) return false;
    if (format != JSON_FORMAT)
        return fields.fail("format " + std::to_string(format) + " is not one this tool reads (it reads format " +
                           std::to_string(JSON_FORMAT) + ")");
    return true;
}
