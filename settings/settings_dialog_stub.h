// What the settings-dialog stand-in answers and records, for native tests.
#ifndef QV_SETTINGS_SETTINGS_DIALOG_STUB_H
#define QV_SETTINGS_SETTINGS_DIALOG_STUB_H

extern int settings_dialog_stub_answer;
extern int settings_dialog_stub_calls;
extern int settings_dialog_stub_first_run;

#endif
