// Where a click's mouth-to-ear time goes: the stamps that a call's audio thread, its
// call thread and the session library's stage probe (session/audio/stage_probe.h)
// take as one click passes, turned into the time spent in each stage.
#pragma once

#include <cstdint>

namespace qelcall {

// One click's stamps, microseconds of std::chrono::steady_clock except where named.
struct ClickStamps {
    int64_t handedInUs = 0;   // the audio callback that handed the click's buffer to audioIO
    int inputOffset = 0;      // the click's first sample within that buffer
    int64_t readyUs = 0;      // its 640-sample frame complete in the capture FIFO
    int64_t encodedUs = 0;    // the poll tick encoded that frame
    int64_t arrivedUs = 0;    // its echo reached the call's UDP socket (kernel stamp)
    int64_t queuedUs = 0;     // recvPacket put it into the jitter buffer
    int64_t decodedUs = 0;    // the jitter buffer handed it to the decoder
    int64_t playedUs = 0;     // the audio callback whose output holds the click
    int outputOffset = 0;     // the click's first sample within that output buffer
    int queuedAhead = -1;     // packets the jitter buffer held when the frame was queued
};

enum Stage {
    kCaptureBuffer,   // in the device's capture buffer (its input latency)
    kWholeFrame,      // waiting for the rest of its 640-sample frame, processed
    kTick,            // waiting for the poll tick that encodes it
    kNetwork,         // encipher, send, the server's echo on loopback
    kCallThreadRead,  // in the socket until the call thread hands it to recvPacket
    kJitterBuffer,    // in the jitter buffer
    kPlaybackFifo,    // decoded, waiting in the playback FIFO for its device buffer
    kOutputBuffer,    // in the device's output buffer (its output latency)
    kStageCount
};

const char* stageName(int stage);

// Milliseconds per stage. `inputLatencyMs` and `outputLatencyMs` are the device's
// (one buffer each for a device that hands over whole periods); the click's offsets
// within its buffers come off them. False when a stamp is missing or out of order.
bool stageTimes(const ClickStamps& s, double inputLatencyMs, double outputLatencyMs, int rate,
                double out[kStageCount]);

// The stages of the median click, the one whose total is the median of the `count`
// clicks' totals, into `out` (kStageCount + 1 values, the total last), so that the
// stages add up to the total. Medians taken stage by stage would not: each may come
// from another click. `samples` holds count rows of kStageCount.
void medianClick(const double* samples, int count, double* out);

}  // namespace qelcall
