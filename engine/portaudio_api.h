// The PortAudio functions the engine uses, as a table. The engine reaches PortAudio
// only through this table, so a test can put a double in its place for what cannot
// happen on this machine (an exclusive-mode host API, failures on demand).
#pragma once

#include <portaudio.h>

namespace tallix {

struct PortAudioApi {
    PaError (*initialize)();
    PaError (*terminate)();
    const char* (*getErrorText)(PaError);
    PaHostApiIndex (*getHostApiCount)();
    PaHostApiIndex (*getDefaultHostApi)();
    const PaHostApiInfo* (*getHostApiInfo)(PaHostApiIndex);
    PaDeviceIndex (*hostApiDeviceIndexToDeviceIndex)(PaHostApiIndex, int);
    const PaDeviceInfo* (*getDeviceInfo)(PaDeviceIndex);
    PaError (*isFormatSupported)(const PaStreamParameters*, const PaStreamParameters*, double);
    PaError (*openStream)(PaStream**, const PaStreamParameters*, const PaStreamParameters*, double,
                          unsigned long, PaStreamFlags, PaStreamCallback*, void*);
    PaError (*startStream)(PaStream*);
    PaError (*stopStream)(PaStream*);
    PaError (*closeStream)(PaStream*);
    PaError (*setStreamFinishedCallback)(PaStream*, PaStreamFinishedCallback*);
    const PaStreamInfo* (*getStreamInfo)(PaStream*);

    // The host-API record that asks for exclusive use of a device, for the host API
    // `hostApi`, or null where that host API has no exclusive mode (every host API of
    // the Linux build). Windows: a PaWasapiStreamInfo with paWinWasapiExclusive.
    void* (*exclusiveModeInfo)(PaHostApiIndex hostApi);
};

// The real library.
const PortAudioApi& systemPortAudio();

}  // namespace tallix
