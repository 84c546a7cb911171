#include "engine/portaudio_api.h"

namespace tallix {

namespace {

void* noExclusiveMode(PaHostApiIndex) {
    // Of the host APIs of this build (ALSA, OSS, JACK) none offers an exclusive mode
    // through a stream record; the Windows build returns its WASAPI record here.
    return nullptr;
}

const PortAudioApi kSystem = {Pa_Initialize,
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
