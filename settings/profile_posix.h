// Test hooks of the native settings-file layer (settings/profile_posix.cpp).
#ifndef QV_SETTINGS_PROFILE_POSIX_H
#define QV_SETTINGS_PROFILE_POSIX_H

// While fail is nonzero, computer_name fails as if the machine had no name
// that fits, so that the fallback name can be tested.
void profile_test_fail_computer_name(int fail);

#endif
