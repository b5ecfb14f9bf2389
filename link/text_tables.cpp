#include "link/text_tables.h"

namespace {

// The first `max` characters of UTF-8 text (continuation bytes do not start a character).
std::string first_characters(const std::string& text, size_t max) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (count++ == max) return text.substr(0, i);
    }
    return text;
}

// One field of a line: as it is, or quoted when it would otherwise split the line or the field.
void append_field(std::string& line, const std::string& cell) {
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        line += cell;
        return;
    }
    line += '"';
    for (const char c : cell) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

}  // namespace

std::string text_table_line(const std::vector<std::string>& cells) {
    std::string line;
    for (size_t c = 0; c < cells.size(); ++c) {
        if (c) line += ',';
        append_field(line, first_characters(cells[c], 255));
    }
    line += TEXT_LINE_END;
    return line;
}
