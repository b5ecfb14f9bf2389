#include "maintenance/diagnostics_view.h"

#include "ui/app_messages.h"
#include "ui_diagnostics_view.h"

namespace {

class diagnostics_view : public app_view {
public:
    explicit diagnostics_view(QWidget* parent) : app_view(parent, VIEW_DIAGNOSTICS) {
        ui.setupUi(this);
        init_layout(ui.panel_label, ui.log_list);
        post_menu_state(0);
    }
    Ui::diagnostics_view_form ui;
};

}  // namespace

app_view* diagnostics_view_create(QWidget* parent) { return new diagnostics_view(parent); }
