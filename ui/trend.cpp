#include "ui/trend.h"

#include "link/field_text.h"
#include "platform/file_replace.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr float NONE = std::numeric_limits<float>::quiet_NaN();

void empty_bucket(trend_bucket& b, double t) {
    b.t_first = b.t_last = t;
    b.samples = 0;
    for (int c = 0; c < TREND_MAX_CURVES; ++c) {
        b.lo[c] = b.hi[c] = NONE;
        b.flags[c] = 0;
    }
}

// One value of one curve joins a bucket.
void take_value(trend_bucket& b, int c, float v) {
    if (!std::isfinite(v)) {
        b.flags[c] |= TREND_BROKEN;
        return;
    }
    if (std::isnan(b.lo[c])) {
        b.lo[c] = b.hi[c] = v;
        return;
    }
    // A new extreme is the latest of the two.
    if (v < b.lo[c]) {
        b.lo[c] = v;
        b.flags[c] |= TREND_HIGH_FIRST;
    } else if (v > b.hi[c]) {
        b.hi[c] = v;
        b.flags[c] &= uint8_t(~TREND_HIGH_FIRST);
    }
}

// The later bucket b joins a.
void merge_into(trend_bucket& a, const trend_bucket& b, int curves) {
    for (int c = 0; c < curves; ++c) {
        const uint8_t broken = uint8_t((a.flags[c] | b.flags[c]) & TREND_BROKEN);
        if (std::isnan(b.lo[c])) {
            a.flags[c] |= broken;
            continue;
        }
        if (std::isnan(a.lo[c])) {
            a.lo[c] = b.lo[c];
            a.hi[c] = b.hi[c];
            a.flags[c] = uint8_t(b.flags[c] | broken);
            continue;
        }
        const bool lo_later = b.lo[c] < a.lo[c], hi_later = b.hi[c] > a.hi[c];
        bool high_first = (a.flags[c] & TREND_HIGH_FIRST) != 0;
        if (lo_later && hi_later) high_first = (b.flags[c] & TREND_HIGH_FIRST) != 0;
        else if (lo_later) high_first = true;  // the highest in a, the lowest in b
        else if (hi_later) high_first = false;
        a.lo[c] = std::min(a.lo[c], b.lo[c]);
        a.hi[c] = std::max(a.hi[c], b.hi[c]);
        a.flags[c] = uint8_t(broken | (high_first ? TREND_HIGH_FIRST : 0));
    }
    a.t_last = b.t_last;
    a.samples += b.samples;
}

// Shortest text that strtof reads back as the same float, in the C conventions.
void float_text(float v, char* out, size_t size) {
    for (int digits = 6; digits <= 9; ++digits) {
        text_format(out, size, "%.*g", digits, double(v));
        if (float(text_to_double(out)) == v) return;
    }
}

void csv_field(std::string& line, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        line += text;
        return;
    }
    line += '"';
    for (char ch : text) {
        if (ch == '"') line += '"';
        line += ch;
    }
    line += '"';
}

}  // namespace

trend_series::trend_series(int curves, int capacity)
    : curves_(std::clamp(curves, 1, TREND_MAX_CURVES)), capacity_(std::max(capacity, 4)) {
    buckets_.reserve(size_t(capacity_));
    clear(0);
}

void trend_series::clear(int64_t wall_start_ms) {
    buckets_.clear();
    span_ = 0;
    wall_start_ms_ = wall_start_ms;
    for (int c = 0; c < TREND_MAX_CURVES; ++c) lo_[c] = hi_[c] = NONE;
}

void trend_series::add(double t, const float* values) {
    if (!std::isfinite(t)) return;
    if (!buckets_.empty() && t < buckets_.back().t_last) t = buckets_.back().t_last;
    auto same_stretch = [&] { return !buckets_.empty() && span_ > 0 && std::floor(t / span_) == std::floor(buckets_.back().t_first / span_); };
    if (!same_stretch()) {
        if (size() >= capacity_) thin();
        if (!same_stretch()) {
            trend_bucket b;
            empty_bucket(b, t);
            buckets_.push_back(b);
        }
    }
    trend_bucket& b = buckets_.back();
    b.t_last = t;
    ++b.samples;
    for (int c = 0; c < curves_; ++c) {
        const float v = values ? values[c] : NONE;
        take_value(b, c, v);
        if (!std::isfinite(v)) continue;
        if (std::isnan(lo_[c]) || v < lo_[c]) lo_[c] = v;
        if (std::isnan(hi_[c]) || v > hi_[c]) hi_[c] = v;
    }
}

void trend_series::add_gap(double t) { add(t, nullptr); }

// Merges neighbours that share a stretch of twice the length (or, the first time, of the length
// that halves the buckets), until at most three quarters of the room is used.
void trend_series::thin() {
    if (buckets_.size() < 2) return;
    double span = span_ > 0 ? span_ * 2 : (buckets_.back().t_last - buckets_.front().t_first) / (capacity_ / 2.0);
    if (!(span > 0)) span = 1e-3;
    for (;;) {
        size_t kept = 0;
        for (size_t i = 1; i < buckets_.size(); ++i) {
            if (std::floor(buckets_[i].t_first / span) == std::floor(buckets_[kept].t_first / span))
                merge_into(buckets_[kept], buckets_[i], curves_);
            else
                buckets_[++kept] = buckets_[i];
        }
        buckets_.resize(kept + 1);
        if (int(buckets_.size()) <= capacity_ * 3 / 4) break;
        span *= 2;
    }
    span_ = span;
}

bool trend_series::range(int c, float* lo, float* hi) const {
    if (c < 0 || c >= curves_ || std::isnan(lo_[c])) return false;
    *lo = lo_[c];
    *hi = hi_[c];
    return true;
}

int trend_series::bucket_at(double t) const {
    if (buckets_.empty()) return -1;
    auto it = std::lower_bound(buckets_.begin(), buckets_.end(), t,
                               [](const trend_bucket& b, double at) { return b.t_last < at; });
    if (it == buckets_.end()) return size() - 1;
    const int i = int(it - buckets_.begin());
    if (i > 0 && t < it->t_first && t - buckets_[size_t(i - 1)].t_last < it->t_first - t) return i - 1;
    return i;
}

void trend_bucket_rows(const trend_series& s, int i, std::vector<trend_row>& out) {
    const trend_bucket& b = s.bucket(i);
    trend_row first{b.t_first, {}}, second{b.t_last, {}};
    for (int c = 0; c < TREND_MAX_CURVES; ++c) {
        const bool high_first = (b.flags[c] & TREND_HIGH_FIRST) != 0;
        first.values[c] = high_first ? b.hi[c] : b.lo[c];
        second.values[c] = high_first ? b.lo[c] : b.hi[c];
    }
    out.push_back(first);
    if (b.samples > 1) out.push_back(second);
}

void trend_iso8601(int64_t ms, char out[32]) {
    // Days since 1970 to a civil date (proleptic Gregorian), for any year.
    int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
    const int64_t in_day = ms - days * 86400000;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    text_format(out, 32, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(in_day / 3600000),
                static_cast<long long>(in_day / 60000 % 60), static_cast<long long>(in_day / 1000 % 60),
                static_cast<long long>(in_day % 1000));
}

std::string trend_csv_text(const trend_series& s, const std::vector<trend_curve>& curves) {
    const int n = std::min(s.curves(), int(curves.size()));
    std::string text = "Time";
    for (int c = 0; c < n; ++c) {
        text += ',';
        csv_field(text, curves[size_t(c)].name + " (" + curves[size_t(c)].unit + ")");
    }
    text += '\n';
    std::vector<trend_row> rows;
    rows.reserve(2);
    char cell[32];
    for (int i = 0; i < s.size(); ++i) {
        rows.clear();
        trend_bucket_rows(s, i, rows);
        for (const trend_row& r : rows) {
            trend_iso8601(s.wall_start_ms() + int64_t(std::llround(r.t * 1000.0)), cell);
            text += cell;
            for (int c = 0; c < n; ++c) {
                text += ',';
                if (std::isnan(r.values[c])) continue;
                float_text(r.values[c], cell, sizeof cell);
                text += cell;
            }
            text += '\n';
        }
    }
    return text;
}

int trend_csv_save(const char* path, const trend_series& s, const std::vector<trend_curve>& curves) {
    return file_replace(path, trend_csv_text(s, curves));
}

float trend_slope::add(double t, float value) {
    if (!std::isfinite(value) || (n_ > 0 && (value < v_[n_ - 1] || t < t_[n_ - 1]))) {
        // Counting started again (or the value is no number): the slope starts afresh with it.
        n_ = 0;
        if (!std::isfinite(value)) return NONE;
    }
    if (n_ == KEEP) {
        std::copy(t_ + 1, t_ + KEEP, t_);
        std::copy(v_ + 1, v_ + KEEP, v_);
        --n_;
    }
    t_[n_] = t;
    v_[n_] = value;
    ++n_;
    // The oldest sample still inside the window, but never the newest itself.
    int oldest = 0;
    while (oldest < n_ - 2 && t - t_[oldest] > WINDOW_S) ++oldest;
    const double dt = t - t_[oldest];
    if (n_ < 2 || !(dt > 0)) return NONE;
    return float((double(value) - double(v_[oldest])) / dt * 60.0);
}
