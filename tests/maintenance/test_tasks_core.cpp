// The task table records, their texts and the filter payload, without a window.
#include "link/bytes.h"
#include "maintenance/tasks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<task_details> details(const char* name, uint32_t start, uint32_t end, uint32_t top, uint8_t state,
                                      uint8_t filters) {
    auto d = std::make_unique<task_details>();
    std::memset(d->bytes, 0, TASK_DETAILS_SIZE);
    std::memcpy(d->bytes + TASK_NAME_OFFSET, name, std::min(std::strlen(name), TASK_NAME_WIDTH));
    put_u32le(d->bytes + 34, start);
    put_u32le(d->bytes + 38, end);
    put_u32le(d->bytes + 42, top);
    d->bytes[46] = state;
    d->bytes[47] = filters;
    return d;
}

TEST(TaskRows, StackFiguresAndStates) {
    auto d = details("Sampler", 0x1000, 0x1FFF, 0x1800, 1, 7);
    EXPECT_EQ(task_stack_size(*d), 4096u);
    EXPECT_EQ(task_stack_used(*d), 2048u);
    EXPECT_EQ(task_filters(*d), 7);

    const task_row_texts t = task_row_format(3, *d);
    EXPECT_EQ(t.id, "3");
    EXPECT_EQ(t.name, "Sampler");
    EXPECT_EQ(t.start, "1000");
    EXPECT_EQ(t.end, "1FFF");
    EXPECT_EQ(t.top, "1800");
    EXPECT_EQ(t.usage, "2048/4096");
    EXPECT_EQ(t.state, "Active");

    const task_row_texts entry0 = task_row_format(0, *d);
    EXPECT_EQ(entry0.usage, "----/4096");
    EXPECT_EQ(entry0.state, "Not a task");

    auto asleep = details("Idle", 0x20001000, 0x20001FFF, 0x20001F00, 0, 0);
    const task_row_texts t2 = task_row_format(15, *asleep);
    EXPECT_EQ(t2.state, "Inactive");
    EXPECT_EQ(t2.start, "20001000");
    EXPECT_EQ(t2.usage, "256/4096");
}

TEST(TaskRows, FiguresWrapIn32BitsAndTextsThatDoNotFitStayEmpty) {
    auto odd = details("x", 0x2000, 0x1FFF, 0x2001, 1, 0);  // top above the end, end below the start
    EXPECT_EQ(task_row_format(1, *odd).usage, "4294967295/0");
    auto huge = details("x", 0x10, 0xFFFFFFFF, 0x10, 1, 0);
    EXPECT_EQ(task_row_format(1, *huge).usage, "");  // 21 characters
    EXPECT_EQ(task_row_format(0, *huge).usage, "----/4294967280");
}

TEST(TaskRows, NameFillingItsFieldIsShownWholeAndNeverOverread) {
    const std::string name(TASK_NAME_WIDTH, 'N');
    auto d = details(name.c_str(), 0x41414141, 0x41414141, 0x41414141, 1, 0);  // no NUL after the name
    EXPECT_EQ(task_name(*d), name);
    EXPECT_EQ(task_row_format(1, *d).name, name);
    std::memcpy(d->bytes + TASK_NAME_OFFSET, "USB\0junk", 8);
    EXPECT_EQ(task_name(*d), "USB");
}

TEST(LogFilters, PayloadCarriesEntryZeroToTheCountAndZerosAfter) {
    const uint8_t flags[TASK_ROWS] = {1, 2, 4, 7, 0, 3, 5, 6, 1, 2, 3, 4, 5, 6, 7, 7};
    uint8_t out[LOG_FILTERS_SIZE];
    std::memset(out, 0xEE, sizeof out);
    log_filters_payload(flags, 0, out);
    std::vector<uint8_t> expected(LOG_FILTERS_SIZE, 0);
    expected[1] = 1;
    EXPECT_EQ(std::vector<uint8_t>(out, out + LOG_FILTERS_SIZE), expected);

    log_filters_payload(flags, 15, out);
    for (int i = 0; i < TASK_ROWS; ++i) expected[size_t(1 + i)] = flags[i];
    EXPECT_EQ(std::vector<uint8_t>(out, out + LOG_FILTERS_SIZE), expected);

    // A count past the grid is held to it: the flags array (16 entries, on the heap so a read
    // past it is caught) is never overrun, and no byte past entry 15 is set.
    auto heap = std::make_unique<uint8_t[]>(TASK_ROWS);
    std::memcpy(heap.get(), flags, TASK_ROWS);
    for (unsigned count : {16u, 24u, 255u}) {
        std::memset(out, 0xEE, sizeof out);
        log_filters_payload(heap.get(), count, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + LOG_FILTERS_SIZE), expected) << count;
        EXPECT_FALSE(log_filters_all(heap.get(), count, LOG_FILTER_ERROR));
    }
}

TEST(LogFilters, ColumnIsSetOnlyWhenEveryEntryHasTheBit) {
    uint8_t flags[TASK_ROWS] = {7, 7, 3, 7};
    EXPECT_TRUE(log_filters_all(flags, 3, LOG_FILTER_ERROR));
    EXPECT_TRUE(log_filters_all(flags, 3, LOG_FILTER_INFO));
    EXPECT_FALSE(log_filters_all(flags, 3, LOG_FILTER_DEBUG));
    EXPECT_TRUE(log_filters_all(flags, 1, LOG_FILTER_DEBUG));  // entries past the count do not count
    flags[2] = 7;
    EXPECT_TRUE(log_filters_all(flags, 3, LOG_FILTER_DEBUG));
    EXPECT_FALSE(log_filters_all(flags, 4, LOG_FILTER_DEBUG));
}

TEST(TaskCount, RefusalText) {
    EXPECT_EQ(tasks_too_many_text(16), "Your firmware has 16 tasks and this GUI can only display 15");
    EXPECT_EQ(tasks_too_many_text(255), "Your firmware has 255 tasks and this GUI can only display 15");
}

}  // namespace
