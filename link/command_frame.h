// The 129-byte request/response record that every instrument command travels in.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t FRAME_SIZE = 129;
constexpr size_t FRAME_REPORT_ID = 0;
constexpr size_t FRAME_CODE = 1;      // u16 little-endian
constexpr size_t FRAME_SEQUENCE = 3;
constexpr size_t FRAME_RESULT = 4;
constexpr size_t FRAME_LENGTH = 5;
constexpr size_t FRAME_PAYLOAD = 6;
constexpr size_t FRAME_PAYLOAD_MAX = FRAME_SIZE - FRAME_PAYLOAD;  // 123

struct command_frame {
    uint8_t bytes[FRAME_SIZE];
};

// Instrument verdicts carried in byte 4.
constexpr uint8_t RESULT_OK = 0;
constexpr uint8_t RESULT_UNSUPPORTED = 9;
// What every command wrapper returns when the transaction itself failed.
constexpr int ERR_LINK_FAILED = 14;

// Zeroes the frame and sets command code and payload length.
void frame_prepare(command_frame& f, uint16_t code, uint8_t length);
inline uint8_t* frame_payload(command_frame& f) { return f.bytes + FRAME_PAYLOAD; }
inline const uint8_t* frame_payload(const command_frame& f) { return f.bytes + FRAME_PAYLOAD; }
uint16_t frame_code(const command_frame& f);
inline uint8_t frame_result(const command_frame& f) { return f.bytes[FRAME_RESULT]; }

// Runs one exchange: ERR_LINK_FAILED when the link fails, otherwise the response's result byte.
int command_exchange(command_frame& f);

// A success whose payload (by its length byte) is shorter than the record asked for: a failed
// read, so the zeros after it are never taken for the instrument's own bytes.
constexpr int ERR_SHORT_RESPONSE = 16;
// command_exchange for a read of a record of `size` bytes: ERR_SHORT_RESPONSE when the
// instrument said success with fewer bytes.
int command_read(command_frame& f, size_t size);
