// Gives back, one frame at a time and in the far end's pauses, delay that the jitter
// buffer took on for a burst of late packets and no longer needs.
//
// When a link stalls, the buffer runs dry, and the packets held in the stall then come
// in a burst, late. The buffer adds delay for them at once, but shrinks only once its
// window of arrival times (about a thousand packets) has forgotten the late ones, 13 to
// 20 s later, and then by the whole excess in one step, with whatever speech was in it.
// This trims from outside the buffer instead. After every frame taken from the buffer
// the caller says how many packets are still waiting for later frames. When at least
// one has been waiting after every frame for a while, that frame of delay is surplus:
// the next frame in a pause is dropped instead of played (the decoder has still seen
// it, so the frames either side join up), and so on while surplus remains.
//
// Only after the buffer has run dry (several frames in a row with no packet, once
// packets have been coming) is surplus looked for, and then for a while. Frames the
// buffer inserts on its own account (it grows against late packets) are no stall.
// Delay that the buffer holds against ordinary jitter is left to its own judgement: its
// window of arrivals is far longer than anything seen here, and a packet that comes
// later than a trimmed buffer allows costs a gap. So when the buffer comes up short
// after a drop, surplus must then be seen for twice as long before the next, and after
// kRetreats such lessons it is left alone until the next stall.
//
// What a drop may cost is bounded: one frame (20 ms) at a time, at least kGapFrames
// played between two drops, and a frame that is not in a pause only after a long wait
// for a pause (a far end that talks without pause still gets its delay back, more
// slowly). A frame the buffer could not deliver means it has just found itself short:
// what was learnt about its surplus is forgotten.
//
// Threads: the audio thread's, under the path lock (or while nothing runs on the path).
// Real-time: allocates nothing, blocks on nothing.
#pragma once

#include <cstdint>

namespace qel {

class JitterTrim {
public:
    // What the jitter buffer gave for a frame.
    enum class Taken { kPacket, kMissing, kInserted };

    // This many frames in a row without a packet (60 ms) is a stall, not jitter;
    // surplus is then looked for over kArmedFrames.
    static constexpr int kStallFrames = 3;
    static constexpr int kArmedFrames = 500;
    // After more frames than this in a row without a packet, the buffer starts afresh:
    // it keeps the whole burst, learns its arrivals anew and then drops the excess by
    // itself (drops taken here would come on top of that). Such a stall is left to it.
    static constexpr int kBufferResyncFrames = 20;
    // Surplus counts only after it has been seen over a whole block of frames (and at
    // most two blocks are remembered): half a second to a second of history, doubled
    // after each of at most kRetreats drops that the buffer turned out to need.
    static constexpr int kBlockFrames = 25;
    static constexpr int kRetreats = 2;
    // Frames played between two drops, at least.
    static constexpr int kGapFrames = 2;
    // How long surplus waits for a pause before it takes a frame that is not in one.
    static constexpr int kPatienceFrames = 150;
    // A frame is quiet below this fraction of the loudest recent frame's energy (-30 dB)
    // or below -50 dBFS whatever came before. Only a frame that follows a quiet one is
    // dropped: 40 ms of quiet is a pause, where a single quiet frame may be the dip
    // between two syllables.
    static constexpr double kQuietRatio = 0.001;
    static constexpr double kQuietFloor = 103.6 * 103.6;
    // The loudest recent frame's energy fades by this factor a frame (about 4 dB/s).
    static constexpr double kLoudFade = 0.98;

    // After one frame taken from the jitter buffer: `taken` says what the buffer gave
    // (with kPacket the frame is the packet's decoded audio, `samples` long, else
    // concealment); `waiting` is the number of packets the buffer holds for later
    // frames. True: drop this frame rather than play it.
    bool dropAfter(Taken taken, int waiting, const int16_t* frame, int samples) noexcept;

    // Forgets everything (the jitter buffer was reset).
    void reset() noexcept;

    // Frames dropped since the last reset; for diagnostics and tests.
    uint32_t dropped() const noexcept { return m_dropped; }

private:
    static constexpr int kUnknown = -1;

    bool isPause(const int16_t* frame, int samples) noexcept;

    int m_missingRun = 0;  // frames in a row without a packet
    int m_armedLeft = 0;   // frames left to look for surplus in
    int m_block = kBlockFrames;
    int m_retreats = 0;
    bool m_droppedSinceShort = false;
    bool m_deliveredOnce = false;
    // The fewest packets waiting after any frame of the block that is filling and of
    // the block before it (kUnknown until a whole block has been seen).
    int m_fewestNow = kUnknown;
    int m_fewestBefore = kUnknown;
    int m_blockFrames = 0;
    int m_sinceDrop = kGapFrames;
    int m_waitedForPause = 0;
    double m_loud = 0.0;
    bool m_lastQuiet = false;
    uint32_t m_dropped = 0;
};

}  // namespace qel
