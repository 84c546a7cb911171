// The audio members of a session client: codec, processing module, AudioPath,
// processing flags, cipher, statistics, and the operations on them.
//
// Threads (the client documents the same contract to its callers):
//  - audioIO: the caller's audio callback thread. Real-time: it allocates and frees
//    nothing, takes no lock but the path lock (at most 20 tries 1 ms apart; if it is
//    still taken the buffer is skipped with silent outputs rather than wait longer or
//    work unserialised), and writes no message: what the jitter buffer reports is
//    only counted there, lock-free, and written to the log by writeAudioMessages on
//    the call thread.
//  - encodeStep / encodeBehindPrefix / receiveStep / addPollTime / writeAudioMessages:
//    the caller's call thread.
//  - setFlag / getFlag: any thread. setFlag only records the request; the processing
//    module is switched by the audio thread between two blocks (or by the next reset),
//    so no other thread calls into the module while a call runs.
//  - reset / the destructor: only while no other call runs on this object (the
//    caller's order guarantees it). audioSetup likewise, except that a receiveStep on
//    another thread may overlap it: the path's lock orders the two.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/semaphore.h"
#include "session/audio/audio_log.h"
#include "session/audio/audio_path.h"
#include "session/audio/audio_processor.h"
#include "session/audio/audio_tap.h"
#include "session/audio/voice_cipher.h"
#include "session/audio/voice_codec.h"

namespace qel {

enum class AudioFlag : int32_t { kEchoCancellation = 1, kGainControl = 2, kNoiseSuppression = 3 };

class VoiceAudio {
public:
    static constexpr int kScratchSamples = 32000;
    static constexpr int kMaxChannels = 16;
    static constexpr int kStatisticsEvery = 50;
    static constexpr int kMinPayloadBytes = 10;

    // Log repeat slots used by the pipeline.
    static constexpr int kUnderrunSlot = 0;
    static constexpr int kInsertionSlot = 1;

    // `log` must outlive this object. The three processing flags start on; nothing
    // else exists until the first reset().
    explicit VoiceAudio(AudioLog& log);
    ~VoiceAudio();
    VoiceAudio(const VoiceAudio&) = delete;
    VoiceAudio& operator=(const VoiceAudio&) = delete;

    // Audio part of the client's reset: statistics and gate cleared, processing module
    // and codec created (first time) or re-initialised, scratch buffers allocated
    // (first time) and zeroed, AudioPath emptied. Keeps the device format.
    void reset() noexcept;

    // Device format: rate in Hz, samples per channel per buffer, latency in device
    // samples. Returns `rate` if the rate and frame count are unchanged (nothing
    // happens), 2 when set up, 0 when refused (rate <= 0, frames <= 0 or above the
    // 32,000-sample scratch buffers; nothing changes) or when the jitter buffer could
    // not be created.
    int32_t audioSetup(int32_t rate, int32_t frames, int32_t latency) noexcept;

    // One device buffer: `inputs` / `outputs` are arrays of channel pointers (null
    // entries skipped, at most 16 considered), each channel `frames` floats in -1..1.
    // False (and no buffer touched) before a usable audioSetup; true otherwise.
    bool audioIO(const float* const* inputs, int32_t inputCount, float inputGain,
                 float* const* outputs, int32_t outputCount, float outputGain) noexcept;

    // Released by audioIO each time a processed frame is ready for the encoder step,
    // so that the poll loop can run its tick at once instead of at its next 20 ms
    // step. The release is one system call: it neither waits nor allocates.
    platform::Semaphore& frameReady() noexcept { return m_frameReady; }

    // Flags 1 echo cancellation, 2 gain control, 3 noise suppression.
    bool setFlag(int32_t flag, bool on) noexcept;
    int32_t getFlag(int32_t flag) const noexcept;

    static constexpr int kNoFrame = AudioPath::kNoFrame;

    // Encoder step: one processed frame into `out` (1,000 bytes of room). Returns the
    // byte count (0 when the encoder gave nothing), kNoFrame when no frame waited.
    int encodeStep(uint8_t* out) noexcept { return m_path.encodeStep(out); }

    // The send side of an audio packet whose 8-byte prefix (nonce word, sequence) the
    // caller has already written at `payload`: encodes a frame behind it (1,000 bytes
    // of room), enciphers it with the prefix as nonce and counts a sent packet.
    // Returns the frame's byte count (0 when the encoder gave nothing: the frame is
    // used up and the packet still goes out), kNoFrame when no frame waited (nothing
    // is counted).
    int encodeBehindPrefix(uint8_t* payload) noexcept;

    // Receive step: `payload` is the packet behind its header (prefix + enciphered
    // frame), deciphered in place. False when it is 9 bytes or shorter, before the
    // first audioSetup, or when the path lock could not be had; the frame is then not
    // queued. Writes the statistics line on every 50th queued packet.
    bool receiveStep(uint8_t* payload, int32_t length) noexcept;

    // What the receive path does around the step for an audio packet in the connected
    // state: counts it, runs the step, and opens the audio gate with `arrival` (the
    // time it began handling the bytes; 0 is taken as 1 so the gate opens).
    bool onAudioPacket(uint8_t* payload, int32_t length, uint32_t arrival) noexcept;

    // Who sees the device buffers and processed blocks (the call recorders); null for
    // nobody. Set while no audio runs; `tap` must outlive its use here.
    void setTap(AudioTap* tap) noexcept {
        m_tap = tap;
        m_path.setTap(tap);
    }

    // Statistics inputs from the poll loop.
    void addPollTime(uint32_t ms) noexcept { m_pollTime += ms; }

    // Writes what the audio thread counted since the last call: "Network underrun" and
    // "Jitter buffer packet inserted" through their repeat slots (one occurrence each,
    // so the folding is the same as if the audio thread had logged them), and
    // "JitterBuffer error %d" with each code. Call thread, every poll.
    void writeAudioMessages() noexcept;

    VoiceCipher& cipher() noexcept { return m_cipher; }
    AudioPath& path() noexcept { return m_path; }
    AudioProcessor& processor() noexcept { return m_processor; }

    // The audio gate: 0 until an audio packet arrives after a reset.
    uint32_t lastVoiceReceive() const noexcept { return m_lastVoiceReceive.load(std::memory_order_acquire); }
    void setLastVoiceReceive(uint32_t ms) noexcept { m_lastVoiceReceive.store(ms, std::memory_order_release); }

    int32_t deviceRate() const noexcept { return m_deviceRate; }
    int32_t frames() const noexcept { return m_frames; }
    int32_t latency() const noexcept { return m_latency; }
    uint32_t skippedBuffers() const noexcept { return m_skippedBuffers.load(std::memory_order_relaxed); }
    float networkLoad() const noexcept { return m_networkLoad; }
    float audioLoad() const noexcept { return m_audioLoad; }

private:
    void mixCapture(const float* const* inputs, int n, float factor) noexcept;
    // Audio thread: counts what the jitter buffer reported, for writeAudioMessages.
    void countJitter(int result) noexcept;
    // Audio thread, path lock held: switches the module's components that setFlag
    // asked for since the last block.
    void applyFlagRequests() noexcept;
    void writeStatistics(int available) noexcept;

    AudioLog& m_log;
    int32_t m_deviceRate = 0;
    int32_t m_frames = 0;
    int32_t m_latency = 0;
    std::atomic<int32_t> m_flags[3] = {1, 1, 1};
    // Bit f-1 set: flag f changed since the module last heard of it.
    std::atomic<uint32_t> m_flagRequests{0};

    // Jitter-buffer reports counted by the audio thread (single producer) and written
    // by the call thread (single consumer).
    static constexpr uint32_t kErrorRing = 16;
    std::atomic<uint32_t> m_underruns{0};
    std::atomic<uint32_t> m_insertions{0};
    std::atomic<uint32_t> m_errorHead{0};  // written by the audio thread
    std::atomic<uint32_t> m_errorTail{0};  // written by the call thread
    std::atomic<int32_t> m_errorCodes[kErrorRing] = {};
    uint32_t m_writtenUnderruns = 0;
    uint32_t m_writtenInsertions = 0;

    AudioProcessor m_processor;
    VoiceCodec m_codec;
    AudioPath m_path;
    VoiceCipher m_cipher;
    std::unique_ptr<int16_t[]> m_captureMix;
    std::unique_ptr<int16_t[]> m_playbackScratch;
    AudioTap* m_tap = nullptr;

    std::atomic<uint32_t> m_lastVoiceReceive{0};
    platform::Semaphore m_frameReady;

    // Statistics. Audio time is added by the audio thread and cleared by the call
    // thread; everything else belongs to the call thread.
    int32_t m_receivedSinceReset = 0;
    int32_t m_rxCount = 0;
    int32_t m_txCount = 0;
    uint32_t m_pollTime = 0;
    std::atomic<uint32_t> m_audioTime{0};
    float m_networkLoad = 0.0f;
    float m_audioLoad = 0.0f;
    uint32_t m_lastStatistics = 0;
    std::atomic<uint32_t> m_skippedBuffers{0};
    uint32_t m_reportedSkips = 0;
    uint32_t m_reportedMisses = 0;
};

}  // namespace qel
