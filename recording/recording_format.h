// The recording file: JSON lines, a header line first, then one line per frame or event.
//
//   {"format":"veltranic-recording","version":1,"tool":"veltranic-cli 2.4.3","platform":"Linux x86_64",
//    "start":"2026-05-04T09:12:40Z"}
//   {"t":812,"ev":"device","dev":"/dev/hidraw3","ids":["HID\\VID_04D8&PID_EABD&REV_0100"]}
//   {"t":950,"ev":"open","dev":"/dev/hidraw3"}
//   {"t":990,"ev":"out","dev":"/dev/hidraw3","cmd":"GET_STATUS","seq":2,"frame":"012701..."}
//   {"t":2710,"ev":"in","dev":"/dev/hidraw3","cmd":"GET_STATUS","seq":2,"result":0,"frame":"..."}
//   {"t":9100,"ev":"end","dropped":0}
//
// "t" counts microseconds on a monotonic clock from the start. Nothing in a recording names the
// user, the computer or any file: only the device path and what went over the bus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr const char* RECORDING_FORMAT = "veltranic-recording";
constexpr int RECORDING_VERSION = 1;

// What one line records ("ev").
enum class rec_kind : uint8_t {
    device,          // a device seen on the bus, with its hardware ids
    open,            // a port opened
    open_failed,     // an open that failed (absent, held, or no permission)
    probe,           // the report-id probe of an open port ("value")
    out,             // a frame written (a request)
    out_failed,      // a write that failed
    in,              // a frame read (a response)
    read_cancelled,  // a read that was cancelled (the exchange was given up)
    read_failed,     // a read that failed (the device went)
    flush,           // the input queue discarded
    close,           // a port closed
    arrival,         // a device arrived
    removal,         // a device went
    dropped,         // lines lost to a full queue since the last such line ("value")
    end,             // the last line: the total lost ("value")
};

struct rec_line {
    rec_kind kind = rec_kind::end;
    uint64_t t_us = 0;
    std::string dev;
    std::vector<uint8_t> frame;     // out, in
    std::string ids;                // device: hardware ids, each terminated by '\0'
    int64_t value = 0;              // probe result, dropped count
};

// The name of a command code as messages and recordings show it ("GET_STATUS"), or its number
// in hex ("0x01FF") for a code the tool does not know.
std::string rec_command_name(uint16_t code);
// The same for the command a frame carries (a frame of at least FRAME_PAYLOAD bytes).
std::string rec_frame_command_name(const std::vector<uint8_t>& frame);

// The header line (without the line feed): format, version, tool ("veltranic-cli 2.4.3"),
// platform, start (UTC, ISO 8601).
std::string rec_header_line(const std::string& tool, int64_t start_unix_seconds);
// True when text is a header line of a recording this code reads.
bool rec_is_header(const std::string& text);

// One line (without the line feed).
std::string rec_format_line(const rec_line& line);
// Reads one line; false when it is not a whole, well-formed line of the format (a recording cut
// off while it was being written ends in such a line).
bool rec_parse_line(const std::string& text, rec_line& line);
