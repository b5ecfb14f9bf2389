// How a window waits for the instrument without freezing the program.
//
// ui_await runs the exchanges of a handler on a helper thread and returns their result once
// they are done, while the GUI thread goes on painting and serving timers, pollers and
// hot-plug. A handler therefore still reads top to bottom in the order its exchanges happen:
//
//     if (ui_await(this, [&] { return flow_meter_write(config); }) != 0) ...
//
// While a window waits:
//  - its input is held, not queued: clicks, keys and the close box meant for it are dropped,
//    so nothing is delivered once the wait is over (no second Save);
//  - after about 150 ms it shows the wait cursor, after about 1 s a note that it is waiting
//    for the instrument;
//  - the other windows of the program go on as usual.
// The wait ends when the work returns. An exchange ends by itself within the link's timeout,
// and at once when the instrument is unplugged (the link is closed under it), so a wait is
// always bounded.
//
// The rule after a wait is the rule after a dialog's exec() (ui/modal.h): the window may have
// been retired or abandoned meanwhile, so code after ui_await checks ui_window_gone before it
// goes on with the window. A view that waits is kept alive until the wait has returned.
//
// The window that waits is window's top-level window, or, for a dialog that is not shown yet
// (the read before it opens), the window that opens it.
//
// The work runs on another thread: it must not touch widgets. Read what it needs from the
// window before the wait, show what it brought after.
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

class QWidget;

// Runs work on a helper thread and returns once it has finished (see above). Off the GUI
// thread, or without a running application, the work simply runs here.
void ui_await_run(QWidget* window, const std::function<void()>& work);

template <typename F>
auto ui_await(QWidget* window, F&& work) -> std::invoke_result_t<F&> {
    using result_type = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<result_type>) {
        ui_await_run(window, [&] { work(); });
    } else {
        result_type result{};
        ui_await_run(window, [&] { result = work(); });
        return result;
    }
}

// Whether window's top-level window is waiting now.
bool ui_awaiting(const QWidget* window);
// How many waits are running now (for tests).
int ui_await_count();

// What the waiting note says.
constexpr const char* UI_AWAIT_NOTE = "Waiting for the instrument...";
