// Audio output: a ring of 12 buffers of 8192 bytes played by the device
// (waveOut on Windows, a stand-in natively), polled, never waited for.
#ifndef QV_MEDIA_AUDIO_H
#define QV_MEDIA_AUDIO_H

#include <cstdint>

enum {
    AUDIO_BUFFER_COUNT = 12,
    AUDIO_BUFFER_SIZE = 8192,
    AUDIO_MAX_BUSY = 9,  // a body is taken only while at most 9 are busy
};

// Network thread: open for a format (closes any open device first; opens
// nothing when ljud is 0 or rate <= 0), and queue PCM bytes.
void audio_open(int32_t rate, int32_t channels);
void audio_write(const uint8_t* data, uint32_t length);
// Window thread at shutdown, after the socket is closed: stops playing,
// gives the device and the buffers back, and closes for good: an open or
// write running on the network thread is waited for, and later ones do
// nothing. (audio_open closes an open device itself before it re-opens.)
void audio_close();
// The same as audio_close.
void audio_shutdown();

// Whether a device is open, and its format as last opened successfully.
int audio_is_open();
int32_t audio_current_rate();
int32_t audio_current_channels();

#endif
