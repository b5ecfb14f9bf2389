// JSON in and out, for every document the tool reads or writes: bounded reading that never
// aborts on what a file holds, field readers that name the field they refuse, and output that is
// always valid UTF-8 with single-precision values in their shortest form.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

using json = nlohmann::ordered_json;

// The version of every document's layout ("format": 1).
constexpr int JSON_FORMAT = 1;

// The most a JSON input may hold, and how deeply its arrays and objects may nest.
constexpr size_t JSON_INPUT_MAX = 1024 * 1024;
constexpr int JSON_DEPTH_MAX = 32;

// Reads a whole stream, at most JSON_INPUT_MAX bytes: false (and why, in error) when it holds
// more or cannot be read. /dev/zero is read up to the limit, never until memory runs out.
bool json_read_stream(std::istream& in, std::string& text, std::string& error);
// The same for a file.
bool json_read_file(const std::string& path, std::string& text, std::string& error);
// Parses text that must hold one JSON object: false with a one-line reason for text that is no
// JSON, nests deeper than JSON_DEPTH_MAX, or is not an object. Throws nothing.
bool json_parse_object(std::string_view text, json& out, std::string& error);

// The document as text (two-space indent, a final newline). Bytes that are not UTF-8 (a name
// with a Latin-1 byte, a message cut inside a character by its field) become U+FFFD.
std::string json_text(const json& doc);
// A value as one line of JSON, with the same U+FFFD for bytes that are not UTF-8 ("60",
// "\"Lake 3\"", {"a":1}): a field's text in a list of changes or on a terminal.
std::string json_value_text(const json& value);
// A new document holding its "format" (JSON_FORMAT); the fields set after it follow in order.
json json_document();

// A single-precision value as the shortest decimal that reads back as the same float (1.7, not
// 1.7000000476837158); null when it is not finite.
json json_float(float value);
// A double as JSON: the number, or null when it is not finite.
json json_double(double value);

// A device time as ISO 8601 ("2026-12-07T09:05:00", the instrument's wall clock, no zone), or
// null for a count beyond 2038-01-19 03:14:07 (read as signed, before 1970).
json json_device_time(uint32_t t);
// "YYYY-MM-DDTHH:MM:SS" or "YYYY-MM-DD HH:MM:SS", a real moment that a device time can hold
// (the clock's rules: no 31 February, no second 60, 1970 to 2038-01-19 03:14:07).
bool json_parse_moment(const std::string& text, uint32_t* device_time);

// Reads the fields of one JSON object by name. A field that is absent (or null) is left out:
// its getter returns true and leaves *out as it was, so what the document does not mention keeps
// its value. A field of the wrong type or out of range fails with an error that names it
// ("waypoints[2].row must be a whole number from 1 to 15"). finish() refuses names that no getter
// asked for, so a misspelt field is never silently ignored.
class json_fields {
public:
    // path: how the object is named in errors ("" for the document itself).
    json_fields(const json& object, std::string path);

    bool is_object() const { return object_.is_object(); }
    bool has(const char* key) const;
    // The field's own value (for nested objects and arrays); nullptr when absent or null.
    const json* get(const char* key);
    bool get_bool(const char* key, bool* out);
    bool get_uint(const char* key, uint64_t max, uint64_t* out);
    bool get_uint(const char* key, uint64_t min, uint64_t max, uint64_t* out);
    // A finite number; with float_range, one a float can hold.
    bool get_number(const char* key, double* out, bool float_range = false);
    bool get_string(const char* key, std::string* out);
    // A whole number that must lie in min-max unless it equals `kept` (what the instrument holds
    // goes back as it is, even a value no window would let anyone type).
    bool get_uint_kept(const char* key, uint64_t min, uint64_t max, uint64_t kept, uint64_t* out);
    // Names a field in an error.
    std::string name(const char* key) const;
    bool fail(const std::string& message);
    // Marks a key as known without reading it.
    void allow(const char* key);
    bool finish();

    std::string error;

private:
    const json& object_;
    std::string path_;
    std::vector<std::string> seen_;
};

// A document's "format", when given, must be JSON_FORMAT.
bool json_check_format(json_fields& fields);
