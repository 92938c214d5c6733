// STAND-IN until the real settings dialog lands: behaves as if the user
// declined, so a first start without a host ends with exit code 0 and F10
// does nothing. Replace this file with the dialog.
#include "settings/settings_dialog.h"

int run_settings_dialog(int first_run) {
    (void)first_run;
    return 0;
}
