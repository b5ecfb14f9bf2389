// The tour's chapter of the diagnostics view and the task monitor.
#include "app/main_window.h"
#include "demo/tour.h"

std::vector<tour_step> tour_diagnostics(const tour_context& t) {
    main_window* main = t.main;
    return {
        [=] { main_command(ID_VIEW_DIAGNOSTICS); },
        [=] { tour_save(main, "06-diagnostics-view"); },
        [=] { main_command(ID_VIEW_RUN); },
    };
}
