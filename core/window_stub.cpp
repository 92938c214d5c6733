// Stand-in for the main window: counts what the logic asks of it.
#include "core/window.h"
#include "core/window_stub.h"

int window_stub_invalidate_count;
int window_stub_destroy_count;

void window_invalidate() { window_stub_invalidate_count++; }
void window_destroy() { window_stub_destroy_count++; }
