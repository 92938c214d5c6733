// The sound device under the buffer ring of media/audio.cpp: waveOut on
// Windows (media/audio_device_win32.cpp), a stand-in that tests drive
// natively (media/audio_device_stub.cpp).
//
// The ring owns the 12 buffers; the device keeps one header per buffer
// (index 0..AUDIO_BUFFER_COUNT-1) and tells, without waiting, whether it is
// still queued. audio.cpp makes every call under its guard, one at a time.
#ifndef QV_MEDIA_AUDIO_DEVICE_H
#define QV_MEDIA_AUDIO_DEVICE_H

#include <cstddef>
#include <cstdint>

// Opens the default output for 16-bit PCM at rate Hz with `channels`
// interleaved channels. 1 when open.
int audio_device_open(int32_t rate, int32_t channels);

// Ties header `index` to `buffer` (AUDIO_BUFFER_SIZE bytes, never null),
// prepares it and marks it free (done).
void audio_device_attach(int index, uint8_t* buffer);

// 1 while the buffer of header `index` is queued or playing.
int audio_device_busy(int index);

// Hands the first `length` bytes of the buffer of header `index` to the
// device, marking it busy until it has been played.
void audio_device_queue(int index, uint32_t length);

// Stops playing (every queued buffer counts as done), detaches every
// attached header and closes the device. The buffers are the ring's to free.
void audio_device_close();

// For tests: replaces the allocator the ring uses for its buffers (nullptr
// restores malloc), and forgets that audio_close closed for good.
typedef void* (*AudioAllocator)(size_t size);
void audio_set_allocator(AudioAllocator allocate);
void audio_reset_for_tests();
// The ring index of the next buffer to fill.
int32_t audio_next_header();

#endif
