// Little-endian field access for wire records. Never cast a buffer to a struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint16_t get_u16le(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get_u32le(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int16_t get_i16le(const uint8_t* p) { return int16_t(get_u16le(p)); }
inline int32_t get_i32le(const uint8_t* p) { return int32_t(get_u32le(p)); }
inline float get_f32le(const uint8_t* p) {
    uint32_t u = get_u32le(p);
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

inline void put_u16le(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put_u32le(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put_f32le(uint8_t* p, float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    put_u32le(p, u);
}

// Copies a text field of at most field_len bytes into out (out_size bytes incl. the NUL),
// stopping at the field's first NUL or its end, whatever the instrument sent.
inline void get_text_field(const uint8_t* field, size_t field_len, char* out, size_t out_size) {
    if (out_size == 0) return;
    size_t n = 0;
    while (n < field_len && n + 1 < out_size && field[n] != 0) {
        out[n] = char(field[n]);
        ++n;
    }
    out[n] = '\0';
}
