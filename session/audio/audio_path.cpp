#include "session/audio/audio_path.h"

#include <speex/speex_jitter.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "session/audio/audio_processor.h"
#include "session/audio/audio_tap.h"
#include "session/audio/voice_codec.h"

namespace qel {

namespace {

// The jitter buffer's own comparison of timestamps, which wrap.
bool notBefore(spx_uint32_t a, spx_uint32_t b) noexcept {
    return static_cast<spx_int32_t>(a - b) >= 0;
}

// Holds the path lock for a step that must not be refused: tries again until it is had.
class HeldPath {
public:
    HeldPath(platform::SpinLock& lock, PathHolder holder) noexcept
        : m_lock(lock), m_id(static_cast<int32_t>(holder)) {
        while (!m_lock.acquire(m_id).acquired) {
        }
    }
    ~HeldPath() { m_lock.release(m_id); }
    HeldPath(const HeldPath&) = delete;
    HeldPath& operator=(const HeldPath&) = delete;

private:
    platform::SpinLock& m_lock;
    int32_t m_id;
};

}  // namespace

void AudioPath::JitterDeleter::operator()(JitterBuffer_* jitter) const noexcept {
    jitter_buffer_destroy(jitter);
}

AudioPath::AudioPath(VoiceCodec& codec, AudioProcessor& processor)
    : m_codec(codec), m_processor(processor) {
    m_captureConverter.configure(kInternalRate, kInternalRate);
    m_playbackConverter.configure(kInternalRate, kInternalRate);
}

AudioPath::~AudioPath() = default;

int AudioPath::setup(int32_t rate, int32_t frames, int32_t latency) noexcept {
    // The receive path may be queueing a frame into the jitter buffer that is about to
    // be replaced (a caller's reader thread hands datagrams in while poll sleeps): the
    // whole change is made under the path lock. Set-up is no real-time step, so it
    // waits for the lock as long as it must; the holders keep it for microseconds.
    HeldPath held(m_lock, PathHolder::kSetup);
    m_deviceRate = rate;
    m_frames = frames;
    m_captureConverter.configure(rate, kInternalRate);
    m_playbackConverter.configure(kInternalRate, rate);
    // The module takes delays of 0..500 ms; larger values only produce errors there.
    const int64_t delay = static_cast<int64_t>(latency) * 1000 / rate;
    m_streamDelayMs = static_cast<int>(std::clamp<int64_t>(delay, 0, 500));
    m_queuedSinceTaken = 0;

    m_jitter.reset();
    const bool fifos = m_playback.allocate() && m_capture.allocate();
    if (!fifos || !m_pool.allocate()) {
        return 0;
    }
    m_jitter.reset(jitter_buffer_init(kFrameSamples));
    if (!m_jitter) {
        return 0;
    }
    // From here on the jitter buffer keeps the pool's slots instead of copying each
    // packet into memory of its own (and freeing it again in get).
    jitter_buffer_ctl(m_jitter.get(), JITTER_BUFFER_SET_DESTROY_CALLBACK,
                      reinterpret_cast<void*>(&PacketPool::giveBack));
    resetJitter();
    return 2;
}

void AudioPath::resetJitter() noexcept {
    if (m_jitter) {
        jitter_buffer_reset(m_jitter.get());
        spx_int32_t margin = kJitterMargin;
        jitter_buffer_ctl(m_jitter.get(), JITTER_BUFFER_SET_MARGIN, &margin);
        spx_int32_t lateCost = kJitterLateCost;
        jitter_buffer_ctl(m_jitter.get(), JITTER_BUFFER_SET_LATE_COST, &lateCost);
        // The reset gave back every packet it held; a slot that a put declined
        // without telling comes back here too.
        m_pool.reclaimAll();
    }
    m_trim.reset();
}

void AudioPath::clear() noexcept {
    m_playback.clear();
    m_capture.clear();
    m_captureConverter.clear();
    m_playbackConverter.clear();
    resetJitter();
}

void AudioPath::makeRoom(int needed) noexcept {
    // The capture FIFO is full when nothing takes frames out of it (capture running
    // while the session does not encode, or the device clock outrunning the poll
    // clock). Then the OLDEST samples go: processed audio waiting to be encoded first,
    // and only if that is not enough the oldest unprocessed audio. Fresh audio is worth
    // more to a call than audio that is already seconds late.
    const int excess = needed - m_capture.room();
    if (excess > 0) {
        m_capture.removeFront(excess);
        (void)m_probe.frontRemoved(excess);
        m_droppedCapture.fetch_add(static_cast<uint64_t>(excess), std::memory_order_relaxed);
    }
}

void AudioPath::capture(const int16_t* deviceIn, int n) noexcept {
    makeRoom(std::min(m_captureConverter.maxOutputFor(n), SampleFifo::kCapacity));
    const RateConverter::Result r =
        m_captureConverter.convert(deviceIn, n, m_capture.writePosition(), m_capture.room());
    m_capture.append(r.written);
}

int AudioPath::refillPlayback() noexcept {
    int result = kJitterOk;
    JitterBufferPacket packet{};
    int got = JITTER_BUFFER_MISSING;
    spx_int32_t waiting = 0;
    if (m_jitter) {
        got = jitter_buffer_get(m_jitter.get(), &packet, kFrameSamples, nullptr);
        jitter_buffer_tick(m_jitter.get());
        jitter_buffer_ctl(m_jitter.get(), JITTER_BUFFER_GET_AVAILABLE_COUNT, &waiting);
    }
    if (got == JITTER_BUFFER_OK) {
        // With the destroy callback the get hands back the pool slot that the put
        // gave it; nothing was copied, and the slot is ours again once decoded.
        m_codec.decode(reinterpret_cast<const uint8_t*>(packet.data), static_cast<int>(packet.len),
                       m_playback.writePosition());
        m_probe.decoded(packet.timestamp);
        PacketPool::giveBack(packet.data);
    } else {
        result = got;
        m_codec.decode(nullptr, 0, m_playback.writePosition());  // concealment
    }
    const JitterTrim::Taken taken = got == JITTER_BUFFER_OK          ? JitterTrim::Taken::kPacket
                                    : got == JITTER_BUFFER_INSERTION ? JitterTrim::Taken::kInserted
                                                                     : JitterTrim::Taken::kMissing;
    if (m_trim.dropAfter(taken, waiting, m_playback.writePosition(), kFrameSamples)) {
        // A frame of delay the buffer no longer needs leaves with this one: the
        // decoder has seen it, the device never will. The caller's loop asks for the
        // next frame at once.
        return result;
    }
    m_playback.append(kFrameSamples);
    return result;
}

void AudioPath::processBlock() noexcept {
    // The far-end block that has just gone out to the device.
    std::memcpy(m_block, m_playback.data(), sizeof m_block);
    m_processor.analyzeReverse(m_block);
    m_playback.removeFront(kBlockSamples);

    // The near-end block captured at the same pace. Capture is converted before
    // playback in every buffer, so it is normally ahead; should it fall behind (a
    // full FIFO lost unprocessed samples), the gap is filled with silence rather than
    // processing samples that were never captured.
    const int missing = kBlockSamples - m_capture.pending();
    if (missing > 0) {
        makeRoom(missing);
        m_capture.appendSilence(missing);
        m_paddedCapture.fetch_add(static_cast<uint64_t>(missing), std::memory_order_relaxed);
    }
    int16_t* block = m_capture.data() + m_capture.done();
    m_processor.process(block, m_streamDelayMs);
    m_capture.markDone(kBlockSamples);
    m_probe.blockProcessed(block, kBlockSamples, m_capture.done() - kBlockSamples, m_capture.done());
    if (m_tap != nullptr) {
        m_tap->processedAudio(block, kBlockSamples);
    }
}

int AudioPath::process(const int16_t* deviceIn, int16_t* deviceOut, int n) noexcept {
    m_frameCompleted = false;
    if (!ready()) {
        std::memset(deviceOut, 0, static_cast<size_t>(n) * sizeof(int16_t));
        return kJitterOk;
    }
    if (m_queuedSinceTaken > kStaleBacklog) {
        // The far end's packets piled up while no device buffer came to take them: the
        // device was away (unplugged, its stream reopened, the loopback test). Played
        // now, they would keep the far end that much late for the rest of the call;
        // the jitter buffer starts again from the packets that arrive from here on.
        clear();
    }
    m_queuedSinceTaken = 0;
    capture(deviceIn, n);
    const int framesBefore = m_capture.done() / kFrameSamples;

    int result = kJitterOk;
    int produced = 0;
    while (produced < n) {
        if (m_playback.count() < kBlockSamples) {
            const int got = refillPlayback();
            if (got != kJitterOk) {
                result = got;
            }
        }
        const RateConverter::Result r = m_playbackConverter.convert(
            m_playback.data() + m_playback.done(), m_playback.pending(), deviceOut + produced,
            n - produced);
        m_playback.markDone(r.used);
        produced += r.written;
        while (m_playback.done() >= kBlockSamples) {
            processBlock();
        }
    }
    m_frameCompleted = m_capture.done() / kFrameSamples > framesBefore;
    return result;
}

int AudioPath::encodeStep(uint8_t* out) noexcept {
    bool removed = false;
    {
        // Only the copy is made under the lock: the audio callback may be waiting for
        // it, and encoding takes far longer than copying 640 samples. The encoder
        // itself belongs to this step alone.
        platform::SpinGuard guard(m_lock, static_cast<int32_t>(PathHolder::kEncoder));
        if (!guard) {
            countLockMiss();
            return kNoFrame;
        }
        if (!ready() || m_capture.done() < kFrameSamples) {
            return kNoFrame;
        }
        std::memcpy(m_encodeFrame, m_capture.data(), sizeof m_encodeFrame);
        // The frame leaves the FIFO whether or not the encoder delivers.
        m_capture.removeFront(kFrameSamples);
        removed = m_probe.frontRemoved(kFrameSamples);
    }
    const int bytes = m_codec.encode(m_encodeFrame, out, kMaxEncodedBytes);
    if (removed) {
        m_probe.encoded();
    }
    return bytes;
}

bool AudioPath::queueFrame(const uint8_t* frame, int length, uint32_t sequence,
                           int& available) noexcept {
    available = 0;
    platform::SpinGuard guard(m_lock, static_cast<int32_t>(PathHolder::kReceive));
    if (!guard) {
        countLockMiss();
        return false;
    }
    // Read under the lock: a format change replaces the jitter buffer.
    if (!m_jitter) {
        return false;
    }
    ++m_queuedSinceTaken;
    // The count is read under the lock: the jitter buffer's bookkeeping is not safe to
    // read while the audio thread takes packets out of it.
    spx_int32_t count = 0;
    jitter_buffer_ctl(m_jitter.get(), JITTER_BUFFER_GET_AVAILABLE_COUNT, &count);
    available = count;

    char* slot = m_pool.take(frame, length);
    if (slot == nullptr) {
        m_droppedFrames.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    JitterBufferPacket packet{};
    packet.data = slot;
    packet.len = static_cast<spx_uint32_t>(length);
    packet.timestamp = sequence * kFrameSamples;
    packet.span = kFrameSamples;
    packet.sequence = static_cast<spx_uint16_t>(sequence & 0xFFFFu);
    m_probe.queued(packet.timestamp, count);
    const spx_uint32_t before =
        static_cast<spx_uint32_t>(jitter_buffer_get_pointer_timestamp(m_jitter.get()));
    jitter_buffer_put(m_jitter.get(), &packet);
    const spx_uint32_t after =
        static_cast<spx_uint32_t>(jitter_buffer_get_pointer_timestamp(m_jitter.get()));
    // The put says nothing when it declines a packet that is hopelessly late: one that
    // ends more than a step before the play position, while the buffer is neither
    // waiting to resynchronise (position 0 after a reset) nor resetting itself in this
    // put (which moves the position to 0). Such a slot is ours again at once.
    const bool kept = notBefore(packet.timestamp + packet.span + kFrameSamples, before) ||
                      before == 0 || after == 0;
    if (!kept) {
        PacketPool::giveBack(slot);
    }
    return true;
}

}  // namespace qel
