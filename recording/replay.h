// Playing a recording (recorder.h) back as an instrument: "replay:" devices on the HID bus.
//
//   replay:FILE           the recording's instrument: the device it exchanged the most frames with
//   replay:FILE?device=N  the N-th device the recording names (1 = the first it names)
//   replay:FILE?fast      answers at once instead of with the recorded pacing (?fast&device=2)
//
// Each request is answered with the recorded response to the same request at the same place in
// the recording, carrying the live request's sequence number (a late answer to the request
// before keeps its distance); the report-id probe finds what it found then; recorded arrivals
// and removals happen again, as long after the last exchange before them as they did then.
//
// What may differ: polls may come more or fewer times than recorded (a request whose bytes equal
// one answered before is answered again with its last answer, and recorded repetitions the live
// program does not make are passed over); a whole recorded session (open to close) that the live
// program does not make, such as the scan before a command, is passed over; a request of the
// recorded command with other data (a time stamp taken afresh) gets the recorded answer. Any
// other request stops the replay: it answers nothing more, so the link fails rather than hangs,
// and replay_problem() says where ("request 17: recorded GET_STATUS, got GET_CLOCK", counting the
// requests to that device).
#pragma once

#include <string>
#include <vector>

// Registers the "replay:" backend on the HID bus (idempotent): any replay: path can be opened.
void replay_bus_install();

// Lists a recording's devices among the present devices, as the connect view shows them.
// `file` may carry "?fast". 0 when it could be read, otherwise 1 with the reason in *error.
int replay_bus_add(const std::string& file, std::string* error);

// The paths under which the devices of a recording are opened and listed (main device first).
std::vector<std::string> replay_device_paths(const std::string& file);

// The path under which a listed recording plays the device it recorded at recorded_path (the
// first such recording), or "" when none does.
std::string replay_path_of(const std::string& recorded_path);

// The first thing that went wrong in a replay since the start (or replay_clear_problem): a
// recording that could not be read, or where and why a replay stopped. Empty when nothing did.
std::string replay_problem();
void replay_clear_problem();

// Forgets every recording (tests).
void replay_bus_reset();
