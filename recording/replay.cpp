#include "recording/replay.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "platform/hid_bus.h"
#include "platform/hid_port_queue.h"
#include "platform/hid_watch_list.h"
#include "recording/recording_format.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

using steady = std::chrono::steady_clock;
using bytes = std::vector<uint8_t>;
// A request as requests are compared: its bytes without report id and sequence number (as text,
// which compares and orders as bytes).
using request_key = std::string;

constexpr const char* PREFIX = "replay:";
constexpr const char* DEFAULT_IDS = "HID\\VID_04D8&PID_EABD";

struct recorded_response {
    uint64_t delay_us;  // after the request went out
    bytes frame;
};

// One thing in a device's recorded history.
struct item {
    enum kind_t : uint8_t { open, close, exchange, arrival, removal } kind;
    uint64_t t_us = 0;
    // exchange
    bytes request;
    request_key key;
    std::vector<recorded_response> responses;
    bool repeat = false;  // an earlier request to this device had the same bytes
    // open
    size_t session_end = 0;  // the index of its close (the item count when it has none)
    int probe = HID_PROBE_SKIPPED;
    // the replay's progress
    bool passed = false;   // answered, passed over, or (an event) happened
    bool matched = false;  // answered by a live request, or happened: live_at is when
    steady::time_point live_at;

    bool is_event() const { return kind == arrival || kind == removal; }
};

struct replay_file;

struct replay_port {
    std::shared_ptr<replay_file> file;
    size_t device;
    uint64_t generation;
    hid_port_queue<bytes> input;
};

struct device {
    std::string recorded_path;
    std::string ids;
    std::string live_path;
    size_t exchanges = 0;
    std::vector<item> items;

    bool present = true;
    uint64_t generation = 0;
    replay_port* port = nullptr;
    size_t cursor = 0;  // the first item not passed yet
    bool bound = false;  // the open port's requests are matched against the session at `session`
    size_t session = 0;
    steady::time_point opened_at;
    std::vector<request_key> history;  // the requests of the open port
    size_t requests = 0;         // live requests since the replay started (for messages)
    std::map<request_key, size_t> answered;  // the exchange last answered for a request
    size_t last_matched = SIZE_MAX;
    // The exchange whose answers went out last, when it had any: its last answer's recorded time
    // and when it was ready here.
    size_t last_answer_item = SIZE_MAX;
    uint64_t last_answer_t_us = 0;
    steady::time_point last_answer_ready;
};

struct replay_file {
    std::string file;
    bool fast = false;
    bool listed = false;
    std::vector<device> devices;
    size_t main_device = 0;

    std::mutex m;  // guards everything below and every device's replay state
    std::condition_variable readers;
    std::condition_variable timer_cv;
    steady::time_point start = steady::now();
    bool stopped = false;
    bool quit = false;
    std::thread timer;

    ~replay_file() {
        {
            std::lock_guard l(m);
            quit = true;
        }
        timer_cv.notify_all();
        if (timer.joinable()) {
            if (timer.get_id() == std::this_thread::get_id()) timer.detach();
            else timer.join();
        }
    }
};

// Declared before the recordings so that a recording's timer, ended as the program ends, still
// finds them.
hid_watch_list g_watchers;
std::mutex g_bus_lock;  // guards everything below
std::string g_problem;
std::vector<std::shared_ptr<replay_file>> g_files;

void note_problem(const std::string& text) {
    std::lock_guard l(g_bus_lock);
    if (g_problem.empty()) g_problem = text;
}

// ---- paths ------------------------------------------------------------------------------------

struct parsed_path {
    std::string file;
    bool fast = false;
    size_t device = 0;  // 1-based; 0 = the main device
};

bool parse_path(const std::string& text, parsed_path& out) {
    std::string rest = text;
    if (rest.rfind(PREFIX, 0) == 0) rest = rest.substr(std::strlen(PREFIX));
    const size_t q = rest.find('?');
    out = parsed_path{};
    out.file = rest.substr(0, q);
    if (out.file.empty()) return false;
    if (q == std::string::npos) return true;
    const std::string options = rest.substr(q + 1);
    for (size_t at = 0; at <= options.size();) {
        const size_t amp = options.find('&', at);
        const std::string option = options.substr(at, amp == std::string::npos ? std::string::npos : amp - at);
        if (option == "fast") {
            out.fast = true;
        } else if (option.rfind("device=", 0) == 0) {
            const std::string n = option.substr(7);
            if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos) return false;
            out.device = size_t(std::stoul(n));
            if (out.device == 0) return false;
        } else if (!option.empty()) {
            return false;
        }
        if (amp == std::string::npos) break;
        at = amp + 1;
    }
    return true;
}

std::string live_path(const std::string& file, bool fast, size_t device_number, bool main) {
    std::string path = PREFIX + file;
    if (fast) path += "?fast";
    if (!main) path += (fast ? "&device=" : "?device=") + std::to_string(device_number);
    return path;
}

// ---- loading ----------------------------------------------------------------------------------

request_key key_of(const bytes& request) {
    request_key key(request.begin(), request.end());
    if (key.size() > FRAME_REPORT_ID) key[FRAME_REPORT_ID] = 0;
    if (key.size() > FRAME_SEQUENCE) key[FRAME_SEQUENCE] = 0;
    return key;
}

bool load(replay_file& f, std::string& error) {
    std::ifstream in(f.file, std::ios::binary);
    if (!in) {
        error = f.file + ": cannot be read";
        return false;
    }
    std::string text;
    if (!std::getline(in, text) || !rec_is_header(text)) {
        error = f.file + ": not a recording of this tool";
        return false;
    }
    std::map<std::string, size_t> index;  // recorded path -> device
    struct stream_state {
        size_t open = SIZE_MAX;      // the open item of the session in progress
        size_t exchange = SIZE_MAX;  // the exchange whose answers are still coming
    };
    std::vector<stream_state> state;
    auto device_of = [&](const std::string& path) -> size_t {
        auto it = index.find(path);
        if (it != index.end()) return it->second;
        device d;
        d.recorded_path = path;
        f.devices.push_back(std::move(d));
        state.push_back({});
        index[path] = f.devices.size() - 1;
        return f.devices.size() - 1;
    };
    rec_line line;
    while (std::getline(in, text)) {
        // A line that is not whole (the last one of a recording cut off) carries nothing.
        if (!rec_parse_line(text, line) || line.dev.empty()) continue;
        const size_t n = device_of(line.dev);
        device& d = f.devices[n];
        stream_state& s = state[n];
        auto push = [&](item::kind_t kind) -> item& {
            item it{};
            it.kind = kind;
            it.t_us = line.t_us;
            d.items.push_back(std::move(it));
            return d.items.back();
        };
        auto end_session = [&] {
            if (s.open != SIZE_MAX) d.items[s.open].session_end = d.items.size();
            s.open = s.exchange = SIZE_MAX;
        };
        switch (line.kind) {
            case rec_kind::device:
                d.ids = line.ids;
                break;
            case rec_kind::open:
                end_session();
                s.open = d.items.size();
                push(item::open);
                break;
            case rec_kind::probe:
                if (s.open != SIZE_MAX) d.items[s.open].probe = int(line.value);
                break;
            case rec_kind::out:
                if (line.frame.size() != FRAME_SIZE) break;
                // A recording started while the port was open: its session starts here.
                if (s.open == SIZE_MAX) {
                    s.open = d.items.size();
                    push(item::open);
                }
                s.exchange = d.items.size();
                push(item::exchange).request = line.frame;
                d.items.back().key = key_of(line.frame);
                ++d.exchanges;
                break;
            case rec_kind::in:
                if (s.exchange != SIZE_MAX && line.frame.size() == FRAME_SIZE) {
                    item& x = d.items[s.exchange];
                    x.responses.push_back({line.t_us >= x.t_us ? line.t_us - x.t_us : 0, line.frame});
                }
                break;
            case rec_kind::close:
                if (s.open == SIZE_MAX) break;  // a port opened before the recording started
                push(item::close);
                end_session();
                break;
            case rec_kind::arrival:
                push(item::arrival);
                break;
            case rec_kind::removal:
                push(item::removal);
                s.exchange = SIZE_MAX;  // nothing answers after it
                break;
            default:
                break;
        }
    }
    for (size_t n = 0; n < f.devices.size(); ++n) {
        device& d = f.devices[n];
        if (state[n].open != SIZE_MAX) d.items[state[n].open].session_end = d.items.size();
        std::set<request_key> seen;
        for (item& it : d.items) {
            if (it.kind != item::exchange) continue;
            it.repeat = !seen.insert(it.key).second;
        }
        // A device whose first event is an arrival was not there when the recording started.
        for (const item& it : d.items) {
            if (!it.is_event()) continue;
            d.present = it.kind == item::removal;
            break;
        }
        if (d.ids.empty()) d.ids = std::string(DEFAULT_IDS) + std::string(1, '\0');
        if (d.exchanges > f.devices[f.main_device].exchanges) f.main_device = n;
    }
    for (size_t n = 0; n < f.devices.size(); ++n)
        f.devices[n].live_path = live_path(f.file, f.fast, n + 1, n == f.main_device);
    return true;
}

// ---- matching ---------------------------------------------------------------------------------

// The first exchange of the session opened at `open`, or SIZE_MAX when it has none before the
// session ends or an event that has not happened yet.
size_t first_exchange(const device& d, size_t open, size_t skip = 0) {
    for (size_t i = open + 1; i < d.items[open].session_end; ++i) {
        const item& it = d.items[i];
        if (it.is_event() && !it.passed) return SIZE_MAX;
        if (it.kind != item::exchange) continue;
        if (skip == 0) return i;
        --skip;
    }
    return SIZE_MAX;
}

// Whether a recorded request answers a live one: the same bytes, or (loosely) the same command.
bool same(const request_key& recorded, const request_key& live, bool loose) {
    if (!loose) return recorded == live;
    return recorded[FRAME_CODE] == live[FRAME_CODE] && recorded[FRAME_CODE + 1] == live[FRAME_CODE + 1];
}

// The first session from item `from` on whose first requests are `requests`, returning its open
// item and the exchange that answers the last of them. The search stops at an arrival or a
// removal that has not happened yet: sessions beyond it belong to another life of the device.
bool find_session(const device& d, size_t from, const std::vector<request_key>& requests, bool loose, size_t& open,
                  size_t& answer) {
    for (size_t i = from; i < d.items.size(); ++i) {
        const item& it = d.items[i];
        if (it.is_event()) {
            if (!it.passed) return false;
            continue;
        }
        if (it.kind != item::open) continue;
        bool all = true;
        size_t x = SIZE_MAX;
        for (size_t k = 0; all && k < requests.size(); ++k) {
            x = first_exchange(d, i, k);
            all = x != SIZE_MAX && same(d.items[x].key, requests[k], loose);
        }
        if (all && x != SIZE_MAX) {
            open = i;
            answer = x;
            return true;
        }
        i = d.items[i].session_end - 1;  // on with the item after its close
    }
    return false;
}

// In the session the port is bound to, from the cursor on: the first exchange that answers the
// request. Recorded repetitions of other requests on the way are left where they are (the live
// program may still make them: a poller's and a window's requests interleave otherwise from one
// run to the next); any other exchange on the way ends the search. SIZE_MAX when none answers;
// *expected is the first exchange not answered yet (SIZE_MAX when the session has no more).
size_t find_in_session(const device& d, const request_key& key, bool loose, size_t* expected) {
    const size_t end = d.items[d.session].session_end;
    for (size_t i = d.cursor; i < end; ++i) {
        const item& it = d.items[i];
        if (it.passed) continue;
        if (it.is_event()) break;  // the device went: nothing after it answers
        if (it.kind != item::exchange) continue;
        if (expected && *expected == SIZE_MAX) *expected = i;
        if (same(it.key, key, loose)) return i;
        if (!it.repeat) break;
    }
    return SIZE_MAX;
}

// The first event of the device that has not happened, or SIZE_MAX.
size_t next_event(const device& d) {
    for (size_t i = d.cursor; i < d.items.size(); ++i)
        if (d.items[i].is_event() && !d.items[i].passed) return i;
    return SIZE_MAX;
}

void settle_cursor(device& d) {
    while (d.cursor < d.items.size() && d.items[d.cursor].passed) ++d.cursor;
}

// Everything from the cursor up to (not including) `to` is passed over.
void pass_to(device& d, size_t to) {
    for (size_t i = d.cursor; i < to && i < d.items.size(); ++i) d.items[i].passed = true;
    d.cursor = std::max(d.cursor, to);
}

void mark_matched(device& d, size_t i, steady::time_point when) {
    d.items[i].passed = true;
    d.items[i].matched = true;
    d.items[i].live_at = when;
    if (d.last_matched == SIZE_MAX || i > d.last_matched) d.last_matched = i;
}

// Queues the recorded answers of exchange x for the live request with sequence number `seq`,
// each as long after the request as it came then. `after`, when set, is the exchange that came
// just before x in the recording and was the last one answered: x's answers then also keep
// their recorded distance from its last answer, which holds the pace of a run of exchanges
// (an upgrade's blocks) where the time a request took to go out was part of it.
void queue_answers(replay_file& f, device& d, replay_port& p, size_t x, uint8_t seq, steady::time_point now, bool after) {
    const item& it = d.items[x];
    const uint8_t recorded_seq = it.request[FRAME_SEQUENCE];
    std::chrono::microseconds later{0};
    if (!f.fast && after && !it.responses.empty() && d.last_answer_t_us <= it.t_us + it.responses[0].delay_us) {
        const auto paced = d.last_answer_ready + std::chrono::microseconds(it.t_us + it.responses[0].delay_us - d.last_answer_t_us);
        const auto plain = now + std::chrono::microseconds(it.responses[0].delay_us);
        if (paced > plain) later = std::chrono::duration_cast<std::chrono::microseconds>(paced - plain);
    }
    for (const recorded_response& r : it.responses) {
        const auto ready_at = f.fast ? now : now + std::chrono::microseconds(r.delay_us) + later;
        bytes frame = r.frame;
        // The same distance from the request's number as recorded: the answer to it carries
        // its number, a late answer to the one before carries that one's.
        frame[FRAME_SEQUENCE] = uint8_t(seq + uint8_t(r.frame[FRAME_SEQUENCE] - recorded_seq));
        p.input.push(ready_at, std::move(frame));
        d.last_answer_ready = ready_at;
        d.last_answer_t_us = it.t_us + r.delay_us;
    }
    d.last_answer_item = it.responses.empty() ? SIZE_MAX : x;
    f.readers.notify_all();
}

void stop_replay(replay_file& f, const device& d, const std::string& what) {
    f.stopped = true;
    std::string text = "request " + std::to_string(d.requests) + ": " + what;
    if (f.devices.size() > 1) text += " (device " + d.recorded_path + ")";
    note_problem(text);
    f.timer_cv.notify_all();
}

// Answers one live request, or stops the replay where the request is not the recorded one.
void answer(replay_file& f, device& d, replay_port& p, const bytes& request) {
    const auto now = steady::now();
    const request_key key = key_of(request);
    const uint8_t seq = request[FRAME_SEQUENCE];
    auto take = [&](size_t x) {
        mark_matched(d, x, now);
        d.answered[key] = x;
        size_t before = x;  // the exchange recorded just before x in its session
        while (before > 0 && d.items[before - 1].kind != item::exchange && d.items[before - 1].kind != item::open) --before;
        const bool after = before > 0 && d.items[before - 1].kind == item::exchange && d.last_answer_item == before - 1;
        queue_answers(f, d, p, x, seq, now, after);
        settle_cursor(d);
        // The answer was never recorded (the recording was cut off), so none comes: the link
        // gives up on it as it would on a silent instrument.
        if (d.items[x].responses.empty() && x + 1 == d.items.size())
            note_problem("request " + std::to_string(d.requests) + ": the recording ends before the answer to " +
                         rec_frame_command_name(request));
    };
    auto bind = [&](size_t open, size_t x) {
        pass_to(d, open);
        mark_matched(d, open, d.opened_at);
        d.bound = true;
        d.session = open;
        for (size_t i = open + 1; i < x; ++i) d.items[i].passed = true;
        d.cursor = x;
        take(x);
    };
    d.history.push_back(key);
    size_t expected = SIZE_MAX;  // the exchange the request should have been, for the message
    // The same request, in order.
    if (d.bound) {
        if (const size_t x = find_in_session(d, key, false, &expected); x != SIZE_MAX) {
            take(x);
            return;
        }
    }
    // The first request of a session, or a session that began as another recorded one did
    // (the scan before a command opens and asks as the command does): the next recorded
    // session that began with these requests.
    size_t open = 0, x = 0;
    const size_t from = d.bound ? std::min(d.items[d.session].session_end, next_event(d)) : d.cursor;
    if (find_session(d, from, d.history, false, open, x)) {
        bind(open, x);
        return;
    }
    // A repetition the recording does not hold at this place: the same answer as last time.
    if (auto it = d.answered.find(key); it != d.answered.end()) {
        queue_answers(f, d, p, it->second, seq, now, false);
        return;
    }
    // The same command with other data (a time stamp the live program took afresh, say): the
    // recorded answer to it, at its place.
    if (d.bound) {
        if (const size_t y = find_in_session(d, key, true, nullptr); y != SIZE_MAX) {
            take(y);
            return;
        }
    } else if (find_session(d, from, d.history, true, open, x)) {
        bind(open, x);
        return;
    }
    if (!d.bound) {
        // What the next recorded session began with.
        for (size_t i = d.cursor; i < d.items.size() && expected == SIZE_MAX; ++i) {
            const item& it = d.items[i];
            if (it.is_event() && !it.passed) break;
            if (it.kind == item::open) expected = first_exchange(d, i);
        }
    }
    const std::string got = rec_frame_command_name(request);
    stop_replay(f, d, expected == SIZE_MAX ? "recorded nothing more, got " + got
                                           : "recorded " + rec_frame_command_name(d.items[expected].request) +
                                                 ", got " + got);
}

// ---- arrivals and removals ----------------------------------------------------------------------

// When an event is due: as long after the last thing the live program matched as it came after
// that thing in the recording, fast or not (a fast replay answers at once, but the program must
// still have taken in those answers before its instrument goes). Not before the live program has
// passed everything recorded before it, unless what is left are repetitions: polls it made fewer
// of.
steady::time_point due_at(const replay_file& f, const device& d, size_t e) {
    for (size_t i = d.cursor; i < e; ++i) {
        const item& it = d.items[i];
        if (!it.passed && !(it.kind == item::exchange && it.repeat)) return steady::time_point::max();
    }
    const item& ev = d.items[e];
    if (d.last_matched == SIZE_MAX) return f.start + std::chrono::microseconds(ev.t_us);
    const item& anchor = d.items[d.last_matched];
    return anchor.live_at + std::chrono::microseconds(ev.t_us >= anchor.t_us ? ev.t_us - anchor.t_us : 0);
}

void fire(replay_file& f, device& d, size_t e, std::vector<std::pair<uint32_t, std::string>>& events) {
    item& ev = d.items[e];
    mark_matched(d, e, steady::now());
    if (ev.kind == item::removal) {
        d.present = false;
        events.emplace_back(HID_EVENT_REMOVE_COMPLETE, d.live_path);
    } else {
        d.present = true;
        ++d.generation;
        events.emplace_back(HID_EVENT_ARRIVAL, d.live_path);
    }
    settle_cursor(d);
    f.readers.notify_all();
}

void run_timer(replay_file* f) {
    std::unique_lock l(f->m);
    for (;;) {
        if (f->quit) return;
        std::vector<std::pair<uint32_t, std::string>> events;
        auto wake = steady::time_point::max();
        if (!f->stopped) {
            for (device& d : f->devices) {
                for (size_t e = next_event(d); e != SIZE_MAX; e = next_event(d)) {
                    const auto due = due_at(*f, d, e);
                    if (due > steady::now()) {
                        wake = std::min(wake, due);  // max: when the live program moves on
                        break;
                    }
                    fire(*f, d, e, events);
                }
            }
        }
        if (!events.empty()) {
            l.unlock();
            g_watchers.notify(events);
            l.lock();
            continue;
        }
        if (wake == steady::time_point::max()) f->timer_cv.wait(l);
        else f->timer_cv.wait_until(l, wake);
    }
}

// ---- the recordings ---------------------------------------------------------------------------

// The recording of a path, read on first use.
std::shared_ptr<replay_file> file_for(const parsed_path& path, std::string* error) {
    {
        std::lock_guard l(g_bus_lock);
        for (auto& f : g_files)
            if (f->file == path.file && f->fast == path.fast) return f;
    }
    auto f = std::make_shared<replay_file>();
    f->file = path.file;
    f->fast = path.fast;
    std::string why;
    if (!load(*f, why)) {
        note_problem(why);
        if (error) *error = why;
        return nullptr;
    }
    std::lock_guard l(g_bus_lock);
    for (auto& other : g_files)
        if (other->file == path.file && other->fast == path.fast) return other;  // read twice at once
    f->timer = std::thread(run_timer, f.get());
    g_files.push_back(f);
    return f;
}

bool port_alive(const replay_port* p) {
    const device& d = p->file->devices[p->device];
    return d.present && d.generation == p->generation && d.port == p;
}

// The devices as they are listed: the main device first, as the recording's instrument, then
// the others in the recording's order.
std::vector<size_t> listing_order(const replay_file& f) {
    std::vector<size_t> order;
    if (f.devices.empty()) return order;
    order.push_back(f.main_device);
    for (size_t n = 0; n < f.devices.size(); ++n)
        if (n != f.main_device) order.push_back(n);
    return order;
}

// ---- backend ----------------------------------------------------------------------------------

void replay_enumerate(void*, std::vector<hid_device_desc>& out) {
    std::vector<std::shared_ptr<replay_file>> files;
    {
        std::lock_guard l(g_bus_lock);
        files = g_files;
    }
    for (auto& f : files) {
        std::lock_guard l(f->m);
        if (!f->listed) continue;
        for (size_t n : listing_order(*f)) {
            const device& d = f->devices[n];
            if (d.present) out.push_back({d.live_path, d.ids});
        }
    }
}

void* replay_open(void*, const char* path) {
    parsed_path parsed;
    if (!parse_path(path, parsed)) return nullptr;
    auto f = file_for(parsed, nullptr);
    if (!f) return nullptr;
    std::lock_guard l(f->m);
    const size_t n = parsed.device == 0 ? f->main_device : parsed.device - 1;
    if (n >= f->devices.size()) return nullptr;
    device& d = f->devices[n];
    if (!d.present || d.port) return nullptr;  // absent, or held exclusively
    auto* p = new replay_port{f, n, d.generation, {}};
    d.port = p;
    d.bound = false;
    d.history.clear();
    d.opened_at = steady::now();
    return p;
}

void replay_close(void*, void* port) {
    auto* p = static_cast<replay_port*>(port);
    {
        replay_file& f = *p->file;
        std::lock_guard l(f.m);
        device& d = f.devices[p->device];
        if (d.port == p) {
            d.port = nullptr;
            if (d.bound) {
                // The rest of the session is passed over; its recorded close is this one.
                const size_t end = d.items[d.session].session_end;
                pass_to(d, end);
                if (end < d.items.size() && d.items[end].kind == item::close) mark_matched(d, end, steady::now());
                settle_cursor(d);
            }
            d.bound = false;
            d.history.clear();
            f.timer_cv.notify_all();
        }
    }
    delete p;
}

int replay_write(void*, void* port, const uint8_t* report, size_t len) {
    auto* p = static_cast<replay_port*>(port);
    replay_file& f = *p->file;
    std::lock_guard l(f.m);
    if (!port_alive(p)) return HID_ERR_IO;
    device& d = f.devices[p->device];
    ++d.requests;
    if (f.stopped) return HID_OK;  // it goes out; no answer comes
    bytes request(FRAME_SIZE, 0);
    std::memcpy(request.data(), report, std::min(len, FRAME_SIZE));
    answer(f, d, *p, request);
    f.timer_cv.notify_all();
    return HID_OK;
}

int replay_read(void*, void* port, uint8_t* report, size_t len) {
    auto* p = static_cast<replay_port*>(port);
    replay_file& f = *p->file;
    std::unique_lock l(f.m);
    return p->input.read(
        l, f.readers, [&] { return port_alive(p); },
        [&](const bytes& frame) {
            std::memset(report, 0, len);
            std::memcpy(report, frame.data(), std::min(len, frame.size()));
        },
        [] {});
}

void replay_cancel(void*, void* port) {
    auto* p = static_cast<replay_port*>(port);
    std::lock_guard l(p->file->m);
    p->input.cancel();
    p->file->readers.notify_all();
}

void replay_rearm(void*, void* port) {
    auto* p = static_cast<replay_port*>(port);
    std::lock_guard l(p->file->m);
    p->input.rearm();
}

void replay_flush(void*, void* port) {
    auto* p = static_cast<replay_port*>(port);
    std::lock_guard l(p->file->m);
    p->input.flush();
}

// What the probe found when the session about to be replayed was recorded.
int replay_probe(void*, void* port) {
    auto* p = static_cast<replay_port*>(port);
    std::lock_guard l(p->file->m);
    const device& d = p->file->devices[p->device];
    int last = HID_PROBE_SKIPPED;
    for (size_t i = 0; i < d.items.size(); ++i) {
        if (d.items[i].kind != item::open) continue;
        last = d.items[i].probe;
        if (i >= d.cursor) break;
    }
    return last;
}

void* replay_watch_start(void*, hid_watch_fn fn, void* user) { return g_watchers.add(fn, user); }

void replay_watch_stop(void*, void* token) { g_watchers.remove(token); }

const hid_backend g_replay = {
    PREFIX,        nullptr,      replay_enumerate, replay_open,        replay_close,      replay_write, replay_read,
    replay_cancel, replay_rearm, replay_flush,     replay_probe,       replay_watch_start, replay_watch_stop,
};

}  // namespace

void replay_bus_install() { hid_bus_register(&g_replay); }

int replay_bus_add(const std::string& file, std::string* error) {
    parsed_path parsed;
    if (!parse_path(file, parsed)) {
        if (error) *error = file + ": not a recording path (FILE, FILE?fast)";
        return 1;
    }
    auto f = file_for(parsed, error);
    if (!f) return 1;
    std::lock_guard l(f->m);
    f->listed = true;
    return 0;
}

std::vector<std::string> replay_device_paths(const std::string& file) {
    parsed_path parsed;
    if (!parse_path(file, parsed)) return {};
    auto f = file_for(parsed, nullptr);
    if (!f) return {};
    std::lock_guard l(f->m);
    std::vector<std::string> paths;
    for (size_t n : listing_order(*f)) paths.push_back(f->devices[n].live_path);
    return paths;
}

std::string replay_path_of(const std::string& recorded_path) {
    std::vector<std::shared_ptr<replay_file>> files;
    {
        std::lock_guard l(g_bus_lock);
        files = g_files;
    }
    for (auto& f : files) {
        std::lock_guard l(f->m);
        if (!f->listed) continue;
        for (const device& d : f->devices)
            if (d.recorded_path == recorded_path) return d.live_path;
    }
    return {};
}

std::string replay_problem() {
    std::lock_guard l(g_bus_lock);
    return g_problem;
}

void replay_clear_problem() {
    std::lock_guard l(g_bus_lock);
    g_problem.clear();
}

void replay_bus_reset() {
    std::vector<std::shared_ptr<replay_file>> files;
    {
        std::lock_guard l(g_bus_lock);
        files.swap(g_files);
        g_problem.clear();
    }
    for (auto& f : files) {
        std::lock_guard l(f->m);
        for (device& d : f->devices) d.present = false;  // open ports fail from here on
        f->quit = true;  // and nothing arrives any more
        f->readers.notify_all();
        f->timer_cv.notify_all();
    }
}
