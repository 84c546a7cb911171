#include "engine/portaudio_api.h"

#include <windows.h>

#include <pa_win_wasapi.h>

namespace tallix {

namespace {

// Exclusive use of the device for WASAPI streams; the one record serves input and
// output alike and is only read by PortAudio.
PaWasapiStreamInfo makeExclusiveInfo() {
    PaWasapiStreamInfo info{};
    info.size = sizeof info;
    info.hostApiType = paWASAPI;
    info.version = 1;
    info.flags = paWinWasapiExclusive;
    return info;
}

void* wasapiExclusiveMode(PaHostApiIndex hostApi) {
    static PaWasapiStreamInfo exclusive = makeExclusiveInfo();
    const PaHostApiInfo* info = Pa_GetHostApiInfo(hostApi);
    // MME has no exclusive mode of its own.
    return info != nullptr && info->type == paWASAPI ? &exclusive : nullptr;
}

// The Windows build has the WASAPI and MME host APIs only (WASAPI first), so there is
// nothing to keep out at initialisation.
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
                              wasapiExclusiveMode};

}  // namespace

const PortAudioApi& systemPortAudio() {
    return kSystem;
}

}  // namespace tallix
