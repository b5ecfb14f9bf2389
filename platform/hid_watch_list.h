// The hot-plug watchers of a stand-in backend (the virtual instrument's, a replayed
// recording's): watchers are called outside every lock, and a watcher's removal waits until no
// call is under way, so no watcher is called once its removal has returned (its user data may be
// freed then). A watcher may remove itself from inside its own call; that removal does not wait.
#pragma once

#include "platform/hid_bus.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class hid_watch_list {
public:
    using event = std::pair<uint32_t, std::string>;  // code, device path

    // A watch_start: the token is what remove() takes back.
    void* add(hid_watch_fn fn, void* user);
    // A watch_stop.
    void remove(void* token);
    // Tells every watcher of each event in turn; call with no lock of the backend held.
    void notify(const std::vector<event>& events);
    void notify(uint32_t code, const std::string& path) { notify({{code, path}}); }

private:
    struct watcher {
        hid_watch_fn fn;
        void* user;
    };
    std::mutex m_;  // guards everything below
    std::vector<watcher*> watchers_;
    std::condition_variable calls_done_;
    int calls_ = 0;
};
