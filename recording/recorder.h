// Recording an instrument session: every frame that goes over the HID bus, in both directions,
// and the events around them (open, close, arrival, removal, a cancelled read), as JSON lines
// (recording_format.h).
//
// The recorder sits beside the link, never in its way: the bus hands each frame to a bounded
// queue and returns; a writer thread of its own takes the lines from there into the file. When
// the queue is full, lines are dropped and the file says how many.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr size_t RECORDER_QUEUE_LINES = 4096;

// Told of a write that failed during a recording (an error number), at most once per
// recording, on the writer thread.
using recorder_failure_fn = std::function<void(int error)>;

// Starts recording into path. `tool` names the program and its version ("veltranic-cli 2.4.3").
// The file is written under a temporary name beside path and renamed into place by
// recorder_stop, so path never holds half a recording. Returns 0, or the error number when the
// file cannot be created or its first line not written (EBUSY when a recording runs already).
int recorder_start(const char* path, const std::string& tool, recorder_failure_fn on_failure = {});

// Stops the recording: writes what is queued and the last line, and puts the file in place.
// Returns 0 when every write, the close and the rename succeeded, otherwise the error number of
// the first failure (the temporary file is removed and path keeps what it held). 0 when no
// recording runs.
int recorder_stop();

bool recorder_active();
// The path being recorded into (empty when none).
std::string recorder_path();
// Lines lost to a full queue in the current (or last) recording.
uint64_t recorder_dropped();

// For tests: while held, the writer takes nothing from the queue (a stalled disk).
void recorder_test_hold_writer(bool hold);
