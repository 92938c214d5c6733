// Test set-up of the shared client state: the locks once per process, and
// the initial field values before every test.
#ifndef QV_TESTS_SUPPORT_CLIENT_FIXTURE_H
#define QV_TESTS_SUPPORT_CLIENT_FIXTURE_H

#include "core/client_state.h"

// Initialises the three locks on the first call only (they are never
// destroyed), then restores every field's initial value.
inline void fresh_client_state() {
    static bool locks_ready = false;
    if (!locks_ready) {
        client_state_init_locks();
        locks_ready = true;
    }
    client_state_reset();
}

#endif
