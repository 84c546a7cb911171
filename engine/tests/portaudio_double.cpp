#include "engine/tests/portaudio_double.h"

#include <cstring>

namespace tallix::testing {

namespace {

PortAudioDouble* g_double = nullptr;
int g_exclusiveRecord = 0;  // its address stands for the host API's exclusive record
PaHostApiInfo g_host;
std::vector<PaDeviceInfo> g_infos;
PaStreamInfo g_streamInfo;
int g_stream = 0;

PaError initialize() {
    if (g_double->onInitialize) {
        g_double->onInitialize();
    }
    if (g_double->initializeError != paNoError) {
        return g_double->initializeError;
    }
    ++g_double->references;
    return paNoError;
}

PaError terminate() {
    if (g_double->references == 0) {
        return paNotInitialized;
    }
    --g_double->references;
    return g_double->terminateError;
}

const char* errorText(PaError error) {
    return error == paNoError ? "Success" : "double error";
}
PaHostApiIndex hostApiCount() {
    return 1;
}
PaHostApiIndex defaultHostApi() {
    return 0;
}

const PaHostApiInfo* hostApiInfo(PaHostApiIndex) {
    g_host = {1, paWASAPI, "Double WASAPI", 0, -1, -1};
    g_host.deviceCount = g_double->hostDeviceCount < 0 ? g_double->hostDeviceCount
                                                       : static_cast<int>(g_double->devices.size());
    g_host.defaultInputDevice = g_double->defaultInput;
    g_host.defaultOutputDevice = g_double->defaultOutput;
    return &g_host;
}

PaDeviceIndex toDevice(PaHostApiIndex, int index) {
    return index;
}

const PaDeviceInfo* deviceInfo(PaDeviceIndex device) {
    if (device < 0 || device >= static_cast<int>(g_double->devices.size())) {
        return nullptr;
    }
    g_infos.resize(g_double->devices.size());
    const DoubleDevice& d = g_double->devices[static_cast<size_t>(device)];
    g_infos[static_cast<size_t>(device)] = {2,    d.name.c_str(), 0,   d.inputs, d.outputs,
                                            0.01, 0.01,           0.1, 0.1,      d.defaultRate};
    return &g_infos[static_cast<size_t>(device)];
}

bool exclusive(const PaStreamParameters* p) {
    return p && p->hostApiSpecificStreamInfo == &g_exclusiveRecord;
}

PaError isFormatSupported(const PaStreamParameters* in, const PaStreamParameters* out,
                          double rate) {
    g_double->formatQueries.push_back(static_cast<int>(rate));
    if (in == nullptr) {  // an output-only stream: a sound clip
        for (int refused : g_double->refusedOutputRates) {
            if (refused == static_cast<int>(rate)) {
                return paInvalidSampleRate;
            }
        }
        return paFormatIsSupported;
    }
    if (!exclusive(in) || !exclusive(out)) {
        return paInvalidDevice;
    }
    for (int supported : g_double->supportedExclusiveRates) {
        if (supported == static_cast<int>(rate)) {
            return paFormatIsSupported;
        }
    }
    return paInvalidSampleRate;
}

PaError openStream(PaStream** stream, const PaStreamParameters* in, const PaStreamParameters* out,
                   double rate, unsigned long, PaStreamFlags, PaStreamCallback* callback,
                   void* userData) {
    const bool isExclusive = exclusive(in) && exclusive(out);
    g_double->openedRates.push_back(rate);
    g_double->openedExclusive.push_back(isExclusive);
    const PaError error = isExclusive ? g_double->exclusiveOpenError : g_double->openError;
    if (error != paNoError) {
        return error;
    }
    ++g_double->openStreams;
    g_double->finishedCallback = nullptr;
    g_double->finished = false;
    g_double->openedDevices.push_back(out ? out->device : -1);
    g_double->openedOutputChannels.push_back(out ? out->channelCount : 0);
    g_double->callback = callback;
    g_double->userData = userData;
    g_streamInfo = {1, 0.02, 0.03, rate};
    *stream = &g_stream;
    return paNoError;
}

PaError startStream(PaStream*) {
    return g_double->startError;
}

PaError stopStream(PaStream*) {
    if (g_double->stopError != paNoError) {
        return g_double->stopError;
    }
    // As the real library does, the finished callback runs before the stop returns.
    g_double->finish();
    return paNoError;
}

PaError setFinishedCallback(PaStream*, PaStreamFinishedCallback* callback) {
    g_double->finishedCallback = callback;
    return paNoError;
}

PaError closeStream(PaStream*) {
    std::lock_guard lock(g_double->audioThread);
    g_double->finished = true;  // nothing runs for a closed stream
    --g_double->openStreams;
    return paNoError;
}

const PaStreamInfo* streamInfo(PaStream*) {
    return &g_streamInfo;
}

void* exclusiveModeInfo(PaHostApiIndex) {
    return g_double->exclusiveMode ? &g_exclusiveRecord : nullptr;
}

const PortAudioApi kDouble = {initialize,        terminate,   errorText,  hostApiCount,
                              defaultHostApi,    hostApiInfo, toDevice,   deviceInfo,
                              isFormatSupported, openStream,  startStream, stopStream,
                              closeStream,       setFinishedCallback,     streamInfo,
                              exclusiveModeInfo};

}  // namespace

PortAudioDouble::PortAudioDouble() {
    g_double = this;
}
PortAudioDouble::~PortAudioDouble() {
    g_double = nullptr;
}
void PortAudioDouble::finish() {
    std::lock_guard lock(audioThread);
    if (!finished && finishedCallback != nullptr) {
        finished = true;
        finishedCallback(userData);
    }
}

const PortAudioApi& PortAudioDouble::api() const {
    return kDouble;
}

}  // namespace tallix::testing
