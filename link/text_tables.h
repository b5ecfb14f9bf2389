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

// One line of the comma-separated text that lists are saved as: each cell as shown, cut at 255
// characters, unquoted and unescaped (a comma inside a cell is written as it is), ending in
// "\n". The captions line is made the same way.
std::string text_table_line(const std::vector<std::string>& cells);
