#include "config/pressure.h"

#include "link/bytes.h"
#include "link/field_text.h"

#include <cmath>
#include <cstring>

namespace {

constexpr size_t GAIN = 1, OFFSET = 9, BARS = 17, VOLTS = 37, USED = 57;
constexpr double FIT_MIN_DETERMINANT = 1e-11;

double get_f64le(const uint8_t* p) {
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u |= uint64_t(p[i]) << (8 * i);
    double v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

void put_f64le(uint8_t* p, double v) {
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(u >> (8 * i));
}

bool fits(int n, size_t size) { return n >= 0 && size_t(n) < size; }

}  // namespace

double pressure_gain(const pressure_calibration& c) { return get_f64le(c.bytes + GAIN); }
double pressure_offset(const pressure_calibration& c) { return get_f64le(c.bytes + OFFSET); }

void pressure_set_line(pressure_calibration& c, double gain, double offset) {
    put_f64le(c.bytes + GAIN, gain);
    put_f64le(c.bytes + OFFSET, offset);
}

float pressure_point_bar(const pressure_calibration& c, int i) { return get_f32le(c.bytes + BARS + 4 * size_t(i)); }
float pressure_point_volt(const pressure_calibration& c, int i) { return get_f32le(c.bytes + VOLTS + 4 * size_t(i)); }
bool pressure_point_used(const pressure_calibration& c, int i) { return c.bytes[USED + size_t(i)] != 0; }

void pressure_set_point(pressure_calibration& c, int i, bool used, float bar, float volt) {
    c.bytes[USED + size_t(i)] = used ? 1 : 0;
    put_f32le(c.bytes + BARS + 4 * size_t(i), bar);
    put_f32le(c.bytes + VOLTS + 4 * size_t(i), volt);
}

int pressure_calibration_read(pressure_calibration& out) {
    return config_block_read(CONFIG_BLOCK_PRESSURE, out.bytes, CONFIG_BLOCK_PRESSURE_SIZE);
}

int pressure_calibration_write(const pressure_calibration& c) {
    return config_block_write(CONFIG_BLOCK_PRESSURE, c.bytes, CONFIG_BLOCK_PRESSURE_SIZE);
}

double pressure_sensor_voltage(const sensor_sample& s) {
    const int difference = int(get_u16le(s.bytes + 14)) - int(get_u16le(s.bytes + 16));
    return double(difference) * 5.0 * 0.000244140625;
}

bool pressure_field_value(std::string_view text, const field_rule& rule, float* out) {
    double v = 0;
    if (!field_rule_accepts(rule, text) || !field_decimal(text, &v)) return false;
    *out = float(v);
    return true;
}

void pressure_points_of(const pressure_calibration& c, pressure_point out[PRESSURE_POINTS]) {
    for (int i = 0; i < PRESSURE_POINTS; ++i)
        out[i] = {double(pressure_point_volt(c, i)), double(pressure_point_bar(c, i)), pressure_point_used(c, i)};
}

int pressure_fit(const pressure_point points[PRESSURE_POINTS], double* gain, double* offset) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        const pressure_point& p = points[i];
        if (!p.used) continue;
        // A NaN point would make every sum NaN, and NaN fails no comparison: the check of d
        // below would let it through.
        if (!std::isfinite(p.volt) || !std::isfinite(p.bar)) return 1;
        n += 1;
        sx += p.volt;
        sy += p.bar;
        sxx += p.volt * p.volt;
        sxy += p.volt * p.bar;
    }
    const double d = n * sxx - sx * sx;
    if (!(std::fabs(d) > FIT_MIN_DETERMINANT)) return 1;
    const double g = (n * sxy - sy * sx) / d;
    const double o = (sxx * sy - sxy * sx) / d;
    if (!std::isfinite(g) || !std::isfinite(o)) return 1;
    *gain = g;
    *offset = o;
    return 0;
}

int pressure_largest_residual(const pressure_point points[PRESSURE_POINTS], double gain, double offset,
                              double* residual) {
    int worst = -1;
    double worst_r = 0;
    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        if (!points[i].used) continue;
        const double r = points[i].bar - pressure_bar(gain, offset, points[i].volt);
        if (worst < 0 || std::fabs(r) > std::fabs(worst_r)) {
            worst = i;
            worst_r = r;
        }
    }
    if (worst >= 0 && residual) *residual = worst_r;
    return worst;
}

bool pressure_line_text(char* out, size_t size, double gain, double offset) {
    char buf[256];
    const bool negative = offset < 0;
    const int n = text_format(buf, sizeof buf, "bar = (%.3f x volt) %s %.3f", gain, negative ? "-" : "+",
                              std::fabs(offset));
    if (!fits(n, sizeof buf) || !fits(n, size)) return false;
    std::memcpy(out, buf, size_t(n) + 1);
    return true;
}

bool pressure_reading_text(char* out, size_t size, double bar) {
    char buf[256];
    const int n = text_format(buf, sizeof buf, "%.3f bar", bar);
    if (!fits(n, sizeof buf) || !fits(n, size)) return false;
    std::memcpy(out, buf, size_t(n) + 1);
    return true;
}
