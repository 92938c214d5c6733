// Audio output: a ring of AUDIO_BUFFER_COUNT buffers of AUDIO_BUFFER_SIZE
// bytes handed in turn to the sound device, which is polled and never
// waited for. An AudioData body is 16-bit little-endian PCM in the format
// the device was opened with; it is cut into pieces of AUDIO_BUFFER_SIZE
// bytes for consecutive buffers of the ring. A body is taken only while at
// most AUDIO_MAX_BUSY buffers are busy, and it stops at the first busy
// buffer: sound never lags by more than the ring holds.
//
// Threads: audio_open and audio_write run on the network thread, audio_close
// on the window thread at shutdown while the network thread may still run.
// The three take `audio_guard`, and audio_close leaves `closed_for_good`
// set, so no open or write runs during or after it. The guard is a spin
// lock on an atomic word, which needs no initialisation at start-up; it is
// only ever contended at shutdown, for the length of one body.
#include "media/audio.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core/sys.h"
#include "media/audio_device.h"
#include "settings/settings.h"

struct AudioOutput {
    int device_open;                            // 1 while the device is open
    uint8_t* audio_buffers[AUDIO_BUFFER_COUNT];  // allocated with the device, freed with it
    int32_t next_header;                        // ring index of the next buffer to fill
    int32_t audio_rate;                         // format as last opened successfully; 0 at start
    int32_t audio_channels;
    int closed_for_good;                        // set by audio_close: nothing opens again
};

static AudioOutput audio;
static std::atomic<int32_t> audio_guard;  // 1 while one of the operations runs
static AudioAllocator audio_allocate;     // nullptr: malloc

static void guard_enter() {
    while (audio_guard.exchange(1, std::memory_order_acquire) != 0) sleep_ms(1);
}

static void guard_leave() { audio_guard.store(0, std::memory_order_release); }

static void* allocate_buffer() {
    return audio_allocate != nullptr ? audio_allocate(AUDIO_BUFFER_SIZE) : malloc(AUDIO_BUFFER_SIZE);
}

// Stops and closes the device and frees the buffers. Format and ring
// position keep their values. Under the guard.
static void close_device() {
    if (!audio.device_open) return;
    audio_device_close();
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) {
        free(audio.audio_buffers[i]);
        audio.audio_buffers[i] = nullptr;
    }
    audio.device_open = 0;
}

void audio_open(int32_t rate, int32_t channels) {
    guard_enter();
    if (audio.closed_for_good) {
        guard_leave();
        return;
    }
    close_device();

    Settings current;
    settings_snapshot(&current);
    if (current.ljud == 0 || rate <= 0 || !audio_device_open(rate, channels)) {
        guard_leave();
        return;
    }
    audio.device_open = 1;

    // A buffer that cannot be had is never handed to the device: the device
    // is then closed again, like a failed open, and the next StreamSetup
    // tries once more.
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) {
        uint8_t* buffer = static_cast<uint8_t*>(allocate_buffer());
        if (buffer == nullptr) {
            close_device();
            guard_leave();
            return;
        }
        audio.audio_buffers[i] = buffer;
        audio_device_attach(i, buffer);
    }
    audio.audio_rate = rate;
    audio.next_header = 0;
    audio.audio_channels = channels;
    guard_leave();
}

void audio_write(const uint8_t* data, uint32_t length) {
    guard_enter();
    if (!audio.device_open) {
        guard_leave();
        return;
    }

    int busy = 0;
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) busy += audio_device_busy(i) ? 1 : 0;
    if (busy > AUDIO_MAX_BUSY) {
        guard_leave();
        return;
    }

    while (length > 0) {
        int index = audio.next_header;
        if (audio_device_busy(index)) break;  // the rest of the body is dropped
        uint32_t piece = length < uint32_t(AUDIO_BUFFER_SIZE) ? length : uint32_t(AUDIO_BUFFER_SIZE);
        memcpy(audio.audio_buffers[index], data, piece);
        audio_device_queue(index, piece);
        audio.next_header = index + 1 == AUDIO_BUFFER_COUNT ? 0 : index + 1;
        data += piece;
        length -= piece;
    }
    guard_leave();
}

void audio_close() {
    guard_enter();
    close_device();
    audio.closed_for_good = 1;
    guard_leave();
}

int audio_is_open() {
    guard_enter();
    int open = audio.device_open;
    guard_leave();
    return open;
}

int32_t audio_current_rate() {
    guard_enter();
    int32_t rate = audio.audio_rate;
    guard_leave();
    return rate;
}

int32_t audio_current_channels() {
    guard_enter();
    int32_t channels = audio.audio_channels;
    guard_leave();
    return channels;
}

int32_t audio_next_header() {
    guard_enter();
    int32_t next = audio.next_header;
    guard_leave();
    return next;
}

void audio_set_allocator(AudioAllocator allocate) {
    guard_enter();
    audio_allocate = allocate;
    guard_leave();
}

void audio_reset_for_tests() {
    guard_enter();
    close_device();
    audio.closed_for_good = 0;
    audio.audio_rate = 0;
    audio.audio_channels = 0;
    audio.next_header = 0;
    guard_leave();
}

void audio_shutdown() { audio_close(); }
