#include "engine/portaudio_api.h"

#include <jack/jack.h>
#include <pa_jack.h>

namespace tallix {

namespace {

void quiet(const char*) {}

// The engine opens the default host API's devices only (ALSA in this build). PortAudio
// would also connect a JACK client at every initialisation when a JACK server runs, and
// if that server then dies, its Pa_Terminate aborts the process (an assertion on
// jack_deactivate in pa_jack.c). So its JACK host API is kept out: jack_client_name_size()
// counts the terminating zero, PortAudio takes a client name of up to that many
// characters, JACK only shorter ones than size - 1; with a name of size - 1 characters
// the host API's client cannot open, and the host API leaves itself out. ALSA's jack
// plugin, which the sound server may sit behind, opens clients of its own names and is
// unaffected. JACK's own messages about the refusal are silenced: they are not the
// engine's to print.
PaError initialise() {
    static const bool kJackKeptOut = [] {
        static char name[256] = {};
        const int length = jack_client_name_size();
        if (length <= 0 || length >= static_cast<int>(sizeof name)) {
            return false;
        }
        for (int i = 0; i < length - 1; ++i) {
            name[i] = 'x';
        }
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
        return PaJack_SetClientName(name) == paNoError;
    }();
    (void)kJackKeptOut;
    return Pa_Initialize();
}

void* noExclusiveMode(PaHostApiIndex) {
    // Of the host APIs of this build (ALSA, OSS, JACK) none offers an exclusive mode
    // through a stream record; the Windows build returns its WASAPI record here.
    return nullptr;
}

const PortAudioApi kSystem = {initialise,
                              Pa_Terminate,
                              Pa_GetErrorText,
                              Pa_GetHostApiCount,
                              Pa_GetDefaultHostApi,
                              Pa_GetHostApiInfo,
                              Pa_HostApiDeviceIndexToDeviceIndex,
                              Pa_GetDeviceInfo,
                              Pa_IsFormatSupported,
                              Pa_OpenStream,
                              Pa_StartStream,
                              Pa_StopStream,
                              Pa_CloseStream,
                              Pa_SetStreamFinishedCallback,
                              Pa_GetStreamInfo,
                              noExclusiveMode};

}  // namespace

const PortAudioApi& systemPortAudio() {
    return kSystem;
}

}  // namespace tallix
