// A PortAudio double for what this machine's PortAudio cannot do: an exclusive-mode
// host API with devices of different default rates, and failures on demand. It counts
// the library references that the engine takes and gives back.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/portaudio_api.h"

namespace tallix::testing {

struct DoubleDevice {
    std::string name;
    int inputs = 0;
    int outputs = 0;
    double defaultRate = 48000;
};

struct PortAudioDouble {
    // Configuration.
    std::vector<DoubleDevice> devices;
    int defaultInput = -1;
    int defaultOutput = -1;
    bool exclusiveMode = true;            // the host API offers an exclusive mode
    PaError initializeError = paNoError;  // Pa_Initialize fails with this
    PaError terminateError = paNoError;   // Pa_Terminate reports this once it has counted down
    // Runs inside every Pa_Initialize, before it counts: a slow driver, or something
    // another thread does while PortAudio starts.
    std::function<void()> onInitialize;
    PaError openError = paNoError;        // shared-mode open fails with this
    PaError exclusiveOpenError = paNoError;
    PaError startError = paNoError;
    PaError stopError = paNoError;
    std::vector<int> refusedOutputRates;  // output-only format queries refused at these
    int hostDeviceCount = 0;  // < 0: the host API reports this error
    std::vector<int> supportedExclusiveRates;

    // Observations.
    int references = 0;  // Pa_Initialize minus Pa_Terminate
    int openStreams = 0;
    std::vector<double> openedRates;
    std::vector<bool> openedExclusive;
    std::vector<int> formatQueries;  // rates asked of Pa_IsFormatSupported, in order
    std::vector<int> openedDevices;  // output device of every opening
    std::vector<int> openedOutputChannels;
    PaStreamCallback* callback = nullptr;
    PaStreamFinishedCallback* finishedCallback = nullptr;
    void* userData = nullptr;

    // Runs the finished callback of the open stream once, as PortAudio's audio thread
    // does when a stream ends; a closed stream's callback never runs (closing waits
    // for a running one).
    void finish();
    std::mutex audioThread;
    bool finished = false;

    // Installs this double as the one that api() reaches (one at a time).
    PortAudioDouble();
    ~PortAudioDouble();
    const PortAudioApi& api() const;
};

}  // namespace tallix::testing
