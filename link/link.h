// The device link: one open instrument, strict request/response exchanges of command frames.
//
// One I/O worker thread alone writes and reads the device. Transactions from any thread are
// admitted one at a time by a timed mutex; each waits at most the link timeout for the mutex and
// at most the link timeout for its answer.
#pragma once

#include "link/command_frame.h"

#include <cstdint>

constexpr int LINK_OK = 0;
constexpr int LINK_ERR_BUSY = 1;      // mutex not obtained in time, or a response of another request
constexpr int LINK_ERR_TIMEOUT = 5;   // no accepted response in time
constexpr int LINK_ERR_NOT_OPEN = 15;

// Link timeouts used by the windows.
constexpr uint32_t LINK_TIMEOUT_LIST_MS = 500;
constexpr uint32_t LINK_TIMEOUT_CONNECT_MS = 3000;
constexpr uint32_t LINK_TIMEOUT_SERVICE_MS = 5000;

// Opens the device exclusively. 0 when open, 1 otherwise (also when a link is already open,
// which is left as it was).
int link_open(const char* path, uint32_t timeout_ms);

// Closes the link; safe when it is closed. Waits at most 5 s for the worker; a worker that is
// stuck in an uninterruptible write is left to finish on its own and releases the device then.
void link_close();

// One exchange. On LINK_OK the whole response replaces the frame; on any failure the frame is
// left exactly as it was passed.
int link_transact(command_frame& frame);

bool link_is_open();

// The report id that requests carry: 1, or 0 for a device without input report 1. Chosen at
// open; kept from the previous open when the device could not be probed.
uint8_t link_report_id();
