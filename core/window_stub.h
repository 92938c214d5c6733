// What the main-window stand-in records, for native tests.
#ifndef QV_CORE_WINDOW_STUB_H
#define QV_CORE_WINDOW_STUB_H

extern int window_stub_invalidate_count;
extern int window_stub_destroy_count;

#endif
