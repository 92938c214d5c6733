// What the stand-in sound device records, and how tests drive it.
#ifndef QV_MEDIA_AUDIO_DEVICE_STUB_H
#define QV_MEDIA_AUDIO_DEVICE_STUB_H

#include <cstdint>
#include <vector>

#include "media/audio.h"

struct AudioStubQueued {
    int index;                  // the header it went through
    std::vector<uint8_t> data;  // the bytes as they were handed over
};

struct AudioStubDevice {
    int fail_open;            // set by tests: the next opens fail
    int open;                 // 1 while open
    int open_count;           // successful opens so far
    int32_t rate, channels;   // format of the last successful open
    uint8_t* attached[AUDIO_BUFFER_COUNT];  // buffer per header, null when detached
    int null_attach_count;    // attaches without memory (must stay 0)
    int busy[AUDIO_BUFFER_COUNT];
    std::vector<AudioStubQueued> queued;   // every piece handed over, in order
};

extern AudioStubDevice audio_stub;

// Forgets everything (device closed, nothing recorded, opens succeed).
void audio_stub_reset();
// The device has played the buffer of header `index` (or all of them).
void audio_stub_mark_done(int index);
void audio_stub_mark_all_done();
// Makes header `index` count as busy without a write (to set up a ring).
void audio_stub_mark_busy(int index);

#endif
