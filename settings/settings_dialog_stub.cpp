// Native stand-in for the settings dialog: answers what a test sets.
#include "settings/settings_dialog.h"
#include "settings/settings_dialog_stub.h"

int settings_dialog_stub_answer;     // what the next call returns
int settings_dialog_stub_calls;      // how often it was shown
int settings_dialog_stub_first_run;  // first_run of the last call

int run_settings_dialog(int first_run) {
    settings_dialog_stub_calls++;
    settings_dialog_stub_first_run = first_run;
    return settings_dialog_stub_answer;
}
