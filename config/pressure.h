// The pressure sensor's calibration: the 62-byte block the instrument keeps (line and up to
// five points), the sensor voltage of a sample, the least-squares line through the points, how
// far each point lies from a line, and the texts that show them.
#pragma once

#include "config/config_block.h"
#include "link/field_text.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr int PRESSURE_POINTS = 5;

// bytes: 0 the instrument's own (kept as read), 1-8 gain (f64, bar per volt), 9-16 offset (f64,
// bar), 17-36 point pressures (5 x f32, bar), 37-56 point voltages (5 x f32, volt), 57-61 used
// flags (u8).
struct pressure_calibration {
    uint8_t bytes[CONFIG_BLOCK_PRESSURE_SIZE];
};

double pressure_gain(const pressure_calibration& c);
double pressure_offset(const pressure_calibration& c);
void pressure_set_line(pressure_calibration& c, double gain, double offset);
// Points are numbered 0-4 here (shown as 1-5).
float pressure_point_bar(const pressure_calibration& c, int i);
float pressure_point_volt(const pressure_calibration& c, int i);
bool pressure_point_used(const pressure_calibration& c, int i);
void pressure_set_point(pressure_calibration& c, int i, bool used, float bar, float volt);

// The block's commands (block 6, 62 bytes): 0 or a failure, as config_block_read/write.
int pressure_calibration_read(pressure_calibration& out);
int pressure_calibration_write(const pressure_calibration& c);

// (signal - reference) x 5 / 4096 volt, the difference taken signed.
double pressure_sensor_voltage(const sensor_sample& s);
// What a line makes of a voltage: gain x volt + offset.
inline double pressure_bar(double gain, double offset, double volt) { return volt * gain + offset; }

// What a point's fields take. Every number in range shows as "%.3f" in a few characters, so
// the text shown reads back as the same value (3e38 would show as 39 digits and read back cut).
constexpr field_rule PRESSURE_BAR_RULE{.decimal = true, .min = -1000, .max = 1000, .unit = "bar"};
constexpr field_rule PRESSURE_VOLT_RULE{.decimal = true, .min = -100, .max = 100, .unit = "volt"};
// A point field's number as a 32-bit float when its rule takes the text; false (out untouched)
// for anything else: no number, "2,5", "nan", a number out of range.
bool pressure_field_value(std::string_view text, const field_rule& rule, float* out);

// One point as the fit sees it.
struct pressure_point {
    double volt;
    double bar;
    bool used;
};
void pressure_points_of(const pressure_calibration& c, pressure_point out[PRESSURE_POINTS]);

// The least-squares line of pressure on voltage through the used points. 0 and the line, or 1
// when there is none: fewer than two distinct voltages (|n Sxx - Sx^2| <= 1e-11), or a value
// that is not finite among the used points or in the result.
int pressure_fit(const pressure_point points[PRESSURE_POINTS], double* gain, double* offset);

// The used point farthest from a line (pressure minus the line's pressure, in bar): its index
// and residual, or -1 when no point is used.
int pressure_largest_residual(const pressure_point points[PRESSURE_POINTS], double gain, double offset,
                              double* residual);

// "bar = (%.3f x volt) %s %.3f": "+" for an offset of zero or more, "-" and its magnitude
// otherwise. False (and out untouched) when it does not fit.
bool pressure_line_text(char* out, size_t size, double gain, double offset);
// "%.3f bar"
bool pressure_reading_text(char* out, size_t size, double bar);
