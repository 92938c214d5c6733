// The sound device on Windows: waveOut (WINMM) on WAVE_MAPPER, opened
// without callback; the WHDR_DONE flag of each header is polled.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "media/audio.h"
#include "media/audio_device.h"

static HWAVEOUT wave_out;
static WAVEHDR audio_headers[AUDIO_BUFFER_COUNT];
static int attached[AUDIO_BUFFER_COUNT];  // 1 while header i is prepared

int audio_device_open(int32_t rate, int32_t channels) {
    if (channels <= 0 || channels > 0xFFFF) return 0;
    WAVEFORMATEX format;
    memset(&format, 0, sizeof format);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.nBlockAlign = static_cast<WORD>(channels * 2);
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * format.nBlockAlign;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return 0;
    wave_out = device;
    return 1;
}

void audio_device_attach(int index, uint8_t* buffer) {
    WAVEHDR* header = &audio_headers[index];
    memset(header, 0, sizeof *header);
    header->lpData = reinterpret_cast<LPSTR>(buffer);
    header->dwBufferLength = AUDIO_BUFFER_SIZE;
    waveOutPrepareHeader(wave_out, header, sizeof *header);
    header->dwFlags |= WHDR_DONE;  // free until it is first written
    attached[index] = 1;
}

int audio_device_busy(int index) {
    // The device sets WHDR_DONE from its own thread when it has played it.
    volatile DWORD* flags = &audio_headers[index].dwFlags;
    return (*flags & WHDR_DONE) == 0;
}

void audio_device_queue(int index, uint32_t length) {
    WAVEHDR* header = &audio_headers[index];
    header->dwBufferLength = length;
    header->dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    // A buffer the device refused would otherwise stay busy for ever and
    // stall the ring: it is simply free again.
    if (waveOutWrite(wave_out, header, sizeof *header) != MMSYSERR_NOERROR)
        header->dwFlags |= WHDR_DONE;
}

void audio_device_close() {
    if (wave_out == nullptr) return;
    waveOutReset(wave_out);  // stops playing, marks every queued buffer done
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) {
        if (!attached[i]) continue;
        waveOutUnprepareHeader(wave_out, &audio_headers[i], sizeof audio_headers[i]);
        audio_headers[i].lpData = nullptr;
        attached[i] = 0;
    }
    waveOutClose(wave_out);
    wave_out = nullptr;
}
