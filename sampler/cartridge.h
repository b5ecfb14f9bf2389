// The instrument's record of the cartridge in its sample slot, and resetting its ID.
#pragma once

#include "link/field_text.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t CARTRIDGE_RECORD_SIZE = 17;

// bytes: 2 the cartridge ID (u16). Bytes 0-1 and 4-16 belong to the instrument: this tool does
// not interpret them and writes them back exactly as the instrument last gave them.
struct cartridge_record {
    uint8_t bytes[CARTRIDGE_RECORD_SIZE];
};

uint16_t cartridge_id(const cartridge_record& c);
void cartridge_set_id(cartridge_record& c, uint16_t id);

// What the ID field takes: a whole number that fits the 16-bit ID; empty means 0.
constexpr field_rule CARTRIDGE_ID_RULE{.min = 0, .max = 0xFFFF, .empty_is_zero = true};
// The ID field as typed: an empty field writes ID 0; false for a text that is no whole number
// ("12,5", "-5") or a number the 16-bit ID cannot hold, which is refused rather than cut to its
// low bits or read as another number.
bool cartridge_id_parse(const std::string& text, uint16_t* id);
// What refuses such a number.
constexpr const char* CARTRIDGE_ID_RANGE_TEXT = "The cartridge ID must be a number from 0 to 65535.";

// CMD_GET_CARTRIDGE: 0 and the record; ERR_LINK_FAILED, the result, or ERR_SHORT_RESPONSE when
// fewer than 17 bytes came back (out untouched on every failure).
int cartridge_read(cartridge_record& out);
// CMD_SET_CARTRIDGE with the 17 bytes: 0, ERR_LINK_FAILED or the result.
int cartridge_write(const cartridge_record& c);

// Gives the cartridge in the sample slot a new ID: reads the record as the instrument holds it
// now (it may have loaded another cartridge since the ID was shown), changes only the ID and
// writes it back. Nothing is written when the read fails. 0, or the failing command's code.
int cartridge_reset_id(uint16_t id);
