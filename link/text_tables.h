// Tables of texts that windows show and that the feature cores own: list columns and combo
// rows. Plain data, so the records, their texts and their captions stay usable without Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct list_column {
    const char* caption;
    int width;  // dialog character units
};

// One row of a combo box: the value it stands for and its text, in the order shown.
struct combo_row {
    uint32_t value;
    const char* text;
};

// The first row whose value equals value, or 0 (the first row) when none does.
inline int combo_row_index(const combo_row* table, int rows, uint32_t value) {
    for (int i = 0; i < rows; ++i)
        if (table[i].value == value) return i;
    return 0;
}

// How each saved line ends: CR LF on Windows, as every text file there; LF elsewhere.
#ifdef _WIN32
constexpr const char* TEXT_LINE_END = "\r\n";
#else
constexpr const char* TEXT_LINE_END = "\n";
#endif

// One line of the comma-separated text that lists are saved as: each cell as shown, cut at 255
// characters, ending in TEXT_LINE_END. A cell that holds a comma, a double quote, CR or LF is
// written between double quotes with each of its quotes doubled, so it stays one field; every
// other cell is written as it is, so files without such cells read as they always did. The
// captions line is made the same way.
std::string text_table_line(const std::vector<std::string>& cells);
