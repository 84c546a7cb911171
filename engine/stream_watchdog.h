// The call thread's watch over the call stream. A sound device that goes away under a
// call (a headset unplugged, the sound server gone) does not always end the stream:
// on ALSA behind a dead sound server, PortAudio keeps the stream "active" and simply
// stops calling back. So the watchdog counts the stream's callbacks, as well as
// listening for PortAudio's end-of-stream signal; a stream that has ended or has not
// called back for kStallMs is closed, and the call goes on without one until a device
// can be opened again (tried every kRetryMs). The session is never touched: the host
// hears nothing, and the call ends only when it would have ended anyway.
//
// Runs on the call thread only, between polls: reopening may send the session library
// the new format, which must not overlap its poll. It never waits on the audio thread.
#pragma once

#include <cstdint>

#include "engine/call_stream.h"

namespace tallix {

class StreamWatchdog {
  public:
    // A device buffer is at most a few tens of milliseconds: a second without one is
    // a stream that no longer runs.
    static constexpr uint32_t kStallMs = 1000;
    // Every attempt re-initialises PortAudio (so that it sees the devices as they are
    // now): some tens of milliseconds of the call thread each, seconds with a slow
    // driver. The first retry comes after kRetryMs, and each one after that waits twice
    // as long as the one before, up to kMaxRetryMs: a device that is back soon is found
    // soon, one that stays away costs the call little.
    static constexpr uint32_t kRetryMs = 250;
    static constexpr uint32_t kMaxRetryMs = 4000;

    explicit StreamWatchdog(CallStreams& streams) noexcept : m_streams(streams) {}

    // Once per turn of the call loop, with the time now. Cheap unless there is
    // something to do.
    void check(uint32_t nowMs) noexcept;

  private:
    // One attempt to open the lost stream again; schedules the next one.
    void reopen(uint32_t nowMs) noexcept;

    CallStreams& m_streams;
    uint32_t m_generation = 0;    // the stream being watched
    uint32_t m_callbacks = 0;     // its callback count when last seen to move
    uint32_t m_lastProgress = 0;  // when it last moved
    bool m_watching = false;
    uint32_t m_nextAttempt = 0;
    uint32_t m_attempts = 0;  // since the stream ran last: only the first is logged
};

}  // namespace tallix
