// File > Export Settings... and Import Settings...: every stored setting of the connected
// instrument written to a backup file, and a backup restored onto it after a preview of what
// changes, block by block.
#pragma once

class QWidget;

// Asks for a file and writes the backup to it. 1 when it was written.
int settings_export_run(QWidget* owner);
// Asks for a backup, shows what it would change and writes the blocks the operator lets it.
// SETTINGS_IMPORT_IDENTITY when the identification was written (the window's title names the
// instrument), 1 when other blocks were, 0 otherwise.
int settings_import_run(QWidget* owner);
constexpr int SETTINGS_IMPORT_IDENTITY = 2;
