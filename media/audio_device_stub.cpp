// Stand-in sound device: keeps what would have been played so that tests
// can see it, and lets them decide when a buffer has been played.
#include "media/audio_device_stub.h"

#include "media/audio_device.h"

AudioStubDevice audio_stub;

void audio_stub_reset() {
    audio_stub.fail_open = 0;
    audio_stub.open = 0;
    audio_stub.open_count = 0;
    audio_stub.rate = 0;
    audio_stub.channels = 0;
    audio_stub.null_attach_count = 0;
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) {
        audio_stub.attached[i] = nullptr;
        audio_stub.busy[i] = 0;
    }
    audio_stub.queued.clear();
}

void audio_stub_mark_done(int index) { audio_stub.busy[index] = 0; }

void audio_stub_mark_all_done() {
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) audio_stub.busy[i] = 0;
}

void audio_stub_mark_busy(int index) { audio_stub.busy[index] = 1; }

int audio_device_open(int32_t rate, int32_t channels) {
    // Like the real device: no format without channels.
    if (audio_stub.fail_open || channels <= 0 || audio_stub.open) return 0;
    audio_stub.open = 1;
    audio_stub.open_count++;
    audio_stub.rate = rate;
    audio_stub.channels = channels;
    return 1;
}

void audio_device_attach(int index, uint8_t* buffer) {
    if (buffer == nullptr) audio_stub.null_attach_count++;
    audio_stub.attached[index] = buffer;
    audio_stub.busy[index] = 0;
}

int audio_device_busy(int index) { return audio_stub.busy[index]; }

void audio_device_queue(int index, uint32_t length) {
    const uint8_t* buffer = audio_stub.attached[index];
    audio_stub.queued.push_back(AudioStubQueued{index, std::vector<uint8_t>(buffer, buffer + length)});
    audio_stub.busy[index] = 1;
}

void audio_device_close() {
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) {
        audio_stub.attached[i] = nullptr;
        audio_stub.busy[i] = 0;
    }
    audio_stub.open = 0;
}
