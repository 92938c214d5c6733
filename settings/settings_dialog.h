// The settings dialog (window thread).
#ifndef QV_SETTINGS_SETTINGS_DIALOG_H
#define QV_SETTINGS_SETTINGS_DIALOG_H

// Shows the settings dialog and waits for the user. first_run 1 at start-up
// when no host is known (declining then ends the program), 0 from F10.
// Returns nonzero when the user accepted (the settings are then saved),
// 0 when the user cancelled or chose to quit.
int run_settings_dialog(int first_run);

#endif
