// A live trend: a few readings against time, kept in bounded memory however long it runs, and
// its comma-separated export. No Qt: the plot (trend_plot.h) draws it, tests drive it directly.
//
// Memory. The trend holds at most its capacity of stretches ("buckets"). While there is room,
// every sample is a bucket of its own. When the trend is full, neighbouring buckets are merged
// into stretches twice as long, each keeping, per curve, the lowest and the highest value it saw
// and which of the two came first; so a spike or a dip never disappears however long the run,
// and a 24-hour run at one sample a second fits as well as a minute does.
//
// Gaps. A value that is not finite, or a break (the readings stopped coming), is a gap in its
// curve: it never counts as a value, and the stretch that holds it is marked so the plot does
// not draw a line across it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int TREND_MAX_CURVES = 4;
constexpr int TREND_CAPACITY = 2048;

// One curve: what it is called, its unit, how a value of it is written for the operator, and the
// band of the plot it is drawn in (curves of one unit share a band and its axis).
struct trend_curve {
    std::string name;    // "Volume"
    std::string unit;    // "litre": ASCII, it heads the exported column too
    std::string format;  // printf format of one value, "%.3f"
    int band = 0;
};

// Per curve and bucket.
constexpr uint8_t TREND_HIGH_FIRST = 1;  // the highest value came before the lowest
constexpr uint8_t TREND_BROKEN = 2;      // a gap lies inside this stretch

struct trend_bucket {
    double t_first = 0, t_last = 0;  // seconds since the trend's start, of its first and last sample
    uint32_t samples = 0;
    float lo[TREND_MAX_CURVES];  // NaN when the stretch holds no value of the curve
    float hi[TREND_MAX_CURVES];
    uint8_t flags[TREND_MAX_CURVES];
};

class trend_series {
public:
    explicit trend_series(int curves = 1, int capacity = TREND_CAPACITY);

    // Empties the trend; time 0 is the wall-clock moment wall_start_ms (ms since 1970, UTC).
    void clear(int64_t wall_start_ms);
    // A sample at t seconds since the start: values[0 .. curves-1]. Time never runs backwards: a
    // sample earlier than the last one counts as taken with it.
    void add(double t, const float* values);
    // The readings stopped coming at t: every curve breaks there.
    void add_gap(double t);

    int curves() const { return curves_; }
    int capacity() const { return capacity_; }
    int size() const { return int(buckets_.size()); }
    bool empty() const { return buckets_.empty(); }
    const trend_bucket& bucket(int i) const { return buckets_[size_t(i)]; }
    // The length of a merged stretch, seconds; 0 while every sample is a bucket of its own.
    double span() const { return span_; }
    double t_end() const { return buckets_.empty() ? 0 : buckets_.back().t_last; }
    int64_t wall_start_ms() const { return wall_start_ms_; }
    // Lowest and highest value of curve c in the whole trend; false when it has none.
    bool range(int c, float* lo, float* hi) const;
    // The bucket whose stretch is nearest to t, or -1 when empty.
    int bucket_at(double t) const;

private:
    void thin();

    int curves_;
    int capacity_;
    double span_ = 0;
    int64_t wall_start_ms_ = 0;
    std::vector<trend_bucket> buckets_;
    float lo_[TREND_MAX_CURVES], hi_[TREND_MAX_CURVES];
};

// The points a curve is drawn through, and the rows of the export: a bucket of one sample is one
// point; a merged bucket is two, at its first and its last sample's time, carrying its two
// extremes in the order they came. NaN marks no value of that curve in the row.
struct trend_row {
    double t;
    float values[TREND_MAX_CURVES];
};
// Appends bucket i's rows to out (one or two).
void trend_bucket_rows(const trend_series& s, int i, std::vector<trend_row>& out);

// The trend as comma-separated text in the C number format: the header "Time" and one column per
// curve ("Volume (litre)"), then one line per row: the time in ISO 8601, UTC, to the millisecond
// ("2026-12-07T09:05:01.250Z"), and each value as the shortest text that reads back as the same
// float, an empty field for no value. Lines end in "\n", as the other saved lists do; a field
// is quoted only when it holds a comma, a quote, CR or LF.
std::string trend_csv_text(const trend_series& s, const std::vector<trend_curve>& curves);
// Writes that text as path, all or nothing (platform/file_replace.h): 0, or the error number.
int trend_csv_save(const char* path, const trend_series& s, const std::vector<trend_curve>& curves);
// "2026-12-07T09:05:01.250Z" for ms since 1970 (UTC); into 32 bytes.
void trend_iso8601(int64_t ms, char out[32]);

// The slope of a growing quantity per minute over the last WINDOW_S seconds (the flow rate from
// the pumped volume): NaN until two samples lie apart, and again after a drop (a new cartridge
// starts counting from 0) or a value that is not finite.
class trend_slope {
public:
    static constexpr double WINDOW_S = 2.5;
    void reset() { n_ = 0; }
    float add(double t, float value);

private:
    static constexpr int KEEP = 8;
    double t_[KEEP];
    float v_[KEEP];
    int n_ = 0;  // samples kept, oldest first
};
