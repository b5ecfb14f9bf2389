#include "sampler/run_view.h"

#include "app/app_messages.h"
#include "ui_run_view.h"

namespace {

class run_view : public app_view {
public:
    explicit run_view(QWidget* parent) : app_view(parent, VIEW_RUN) {
        ui.setupUi(this);
        init_layout(ui.panel_label, ui.sample_list);
        post_menu_state(0);
    }
    Ui::run_view_form ui;
};

}  // namespace

app_view* run_view_create(QWidget* parent) { return new run_view(parent); }
