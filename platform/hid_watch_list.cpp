#include "platform/hid_watch_list.h"

#include <algorithm>

namespace {

// The lists whose watchers this thread is calling right now.
thread_local std::vector<const hid_watch_list*> t_calling;

}  // namespace

void* hid_watch_list::add(hid_watch_fn fn, void* user) {
    auto* w = new watcher{fn, user};
    std::lock_guard l(m_);
    watchers_.push_back(w);
    return w;
}

void hid_watch_list::remove(void* token) {
    auto* w = static_cast<watcher*>(token);
    {
        std::unique_lock l(m_);
        std::erase(watchers_, w);
        // A watcher that stops itself from inside its own call cannot wait for that call.
        if (std::find(t_calling.begin(), t_calling.end(), this) == t_calling.end())
            calls_done_.wait(l, [this] { return calls_ == 0; });
    }
    delete w;
}

void hid_watch_list::notify(const std::vector<event>& events) {
    if (events.empty()) return;
    std::vector<watcher> copy;
    {
        std::lock_guard l(m_);
        for (watcher* w : watchers_) copy.push_back(*w);
        ++calls_;
    }
    t_calling.push_back(this);
    for (const auto& [code, path] : events)
        for (const watcher& w : copy) w.fn(w.user, code, path.c_str());
    t_calling.pop_back();
    std::lock_guard l(m_);
    --calls_;
    calls_done_.notify_all();
}
