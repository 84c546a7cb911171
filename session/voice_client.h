// One voice call with the QEL server: who the user is, where the protocol stands and
// which requests wait to be sent. Requests (announce, connectVoice, dtmf, setName,
// setStatus, disconnect) never send anything: each builds a packet in a request slot and
// queues it; the poll loop hands queued packets to the caller.
//
// Threads: requests may come from any thread; each takes the client lock (a SpinLock
// owned by the caller id of the operation). reset and destruction take no lock and must
// not overlap any other call. state() and active() read one atomic word.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/spin_lock.h"
#include "session/format_check.h"
#include "session/log_manager.h"
#include "session/qel_api.h"
#include "session/request_queue.h"
#include "zephra_version.h"
#include "session/session_timing.h"
#include "session/wav_recorder.h"

namespace qel {
class StageProbe;
}  // namespace qel

namespace session {

enum ClientState : int32_t {
    E_QELCS_IDLE = 0,
    E_QELCS_ANNOUNCING = 1,
    E_QELCS_ANNOUNCED = 2,
    E_QELCS_PROBING = 3,
    E_QELCS_NETREADY = 4,
    E_QELCS_CONNECTING = 5,
    E_QELCS_CONNECTED = 6,
    E_QELCS_FAILED = 7,
    E_QELCS_DISCONNECTED = 8,
};

// The audio members of a client (voice_client_audio.cpp): the pipeline with its codec,
// processing module, AudioPath, cipher and statistics, where the voice dependencies are
// built; otherwise only the audio gate.
struct ClientAudio;
struct ClientAudioDeleter {
    void operator()(ClientAudio* audio) const noexcept;
};

// Holder numbers of the client lock, one per operation that takes it.
enum ClientLockId : int32_t {
    kLockSetName = 2,
    kLockSetStatus = 3,
    kLockAnnounce = 4,
    kLockConnectVoice = 5,
    kLockDtmf = 6,
    kLockDisconnect = 7,
    kLockPoll = 8,
    kLockRecvPacket = 9,
};

class VoiceClient {
public:
    static constexpr uint32_t kTextBytes = 64;  // name and status: 63 characters + NUL
    static constexpr uint32_t kErrorBytes = 128;
    static constexpr uint32_t kReceiveBytes = 3000;
    // The project's version (top CMakeLists.txt), announced as the protocol version.
    static constexpr const char* kProtocolVersion = ZEPHRA_VERSION_TEXT;
    static constexpr const char* kCodec = "opus/32000";

    // Creates a client and resets it; null when memory runs out.
    static std::unique_ptr<VoiceClient> create() noexcept;
    ~VoiceClient();
    VoiceClient(const VoiceClient&) = delete;
    VoiceClient& operator=(const VoiceClient&) = delete;

    // Back to E_QELCS_IDLE: log cleared, name and status forgotten, requests dropped,
    // audio members reset. Takes no lock.
    void reset() noexcept;

    // Requests. Each returns true when its packet was queued (setName and setStatus also
    // when only the stored text changed). A request refused for the state, its argument,
    // a full slot table or a busy lock logs why and changes nothing.
    bool announce() noexcept;
    bool connectVoice(const char* service, const char* pin) noexcept;
    bool dtmf(uint8_t digit) noexcept;
    bool setName(const char* text) noexcept;
    bool setStatus(const char* text) noexcept;
    // `command` kinds: 1 the name, 2 the status; any other kind is refused.
    bool command(int kind, const char* text) noexcept;
    bool disconnect() noexcept;

    // The disconnect request for code that already holds the client lock (the poll loop
    // and the receive path).
    bool disconnectLocked() noexcept;

    // Network side, on the caller's call thread (receive.cpp, poll.cpp, transport.cpp).
    // recvPacket takes bytes received from the server: one UDP datagram, or a piece of
    // the TCP stream, which is reassembled on its own. poll runs one step of the 20 ms
    // schedule; true when `event` holds an event, false after waiting for the next step.
    // The wait ends early when the audio callback has a processed frame ready: the
    // schedule then steps from that moment, so a frame goes out as soon as it exists.
    void recvPacket(const uint8_t* bytes, size_t length, bool viaUdp) noexcept;
    bool poll(PollEvent& event) noexcept;

    // Call recordings (record: captured and played at the device rate; recordpost: the
    // processed capture at 32 kHz). The audio side feeds them with WavRecorder::push.
    bool record(const char* path) noexcept;
    bool recordpost(const char* path) noexcept;
    WavRecorder& deviceRecorder() noexcept { return m_deviceRecorder; }
    WavRecorder& processedRecorder() noexcept { return m_processedRecorder; }

    // The audio pipeline (voice_client_audio.cpp).
    //
    // audioSetup: the device format (rate in Hz, samples per channel in every buffer,
    // latency in device samples). Returns `rate` when neither rate nor frames changed
    // (nothing happens), 2 when set up, 0 when refused (rate or frames out of range:
    // nothing changes) or when the jitter buffer could not be created. Must not overlap
    // any other audio call or poll; a recvPacket on another thread may overlap it.
    int32_t audioSetup(int32_t rate, int32_t frames, int32_t latency) noexcept;
    // audioIO: one device buffer, on the caller's audio callback thread (real-time: no
    // allocation, no blocking beyond the path lock's bounded tries, no file I/O).
    // Arrays of channel pointers (null entries skipped, 16 at most considered), each
    // `frames` floats in -1..1. False, touching nothing, before a usable audioSetup.
    bool audioIO(const float* const* inputs, int32_t inputCount, float inputGain,
                 float* const* outputs, int32_t outputCount, float outputGain) noexcept;
    // Processing flags 1 echo cancellation, 2 gain control, 3 noise suppression; any
    // other number is refused (false) and reads as 0. Any thread.
    bool setAudioFlag(int32_t flag, bool on) noexcept;
    int32_t getAudioFlag(int32_t flag) const noexcept;
    // The audio gate: when the last voice packet arrived (ms), 0 since the last reset
    // if none has. audioIO only plays and captures while it is non-zero.
    uint32_t lastVoiceReceive() const noexcept;

    // Where the network side meets the audio pipeline.
    //
    // encodeVoiceFrame: the poll tick's send step in the connected state. `packet` is
    // the audio packet being built in the event's data area, its 24-byte head written
    // (the nonce word and sequence at offsets 16 and 20 are the cipher nonce);
    // `capacity` is the whole area. Encodes one captured frame behind the head, in at
    // most capacity - 24 bytes, enciphers it in place, counts a sent packet, and returns
    // its byte count (0 when the encoder gave nothing), or kNoVoiceFrame when no full
    // frame is ready (nothing is sent then). Client lock held.
    static constexpr int kNoVoiceFrame = -1;
    int encodeVoiceFrame(uint8_t* packet, size_t capacity) noexcept;
    // receiveVoiceFrame: every RTP packet received in the connected state. `payload` is
    // the packet after its 16-byte header (8-byte nonce prefix, enciphered frame),
    // writable so it can be deciphered in place. Counts a received packet whatever its
    // length, and opens the audio gate with `arrival`, the time at which the receive
    // path began handling the bytes (0 counts as 1). False when the frame was not
    // queued (too short, no audioSetup yet, path lock busy). Client lock held.
    bool receiveVoiceFrame(uint8_t* payload, size_t length, uint32_t arrival) noexcept;
    // keyVoiceCipher: m_voiceKey has just been set by a successful ANNOUNCE answer.
    void keyVoiceCipher() noexcept;
    // deviceRate: the device rate given to audioSetup, 0 before it.
    uint32_t deviceRate() const noexcept;
    // The audio path's latency stamps (off unless armed); lives as long as the client.
    qel::StageProbe& stageProbe() noexcept;

    // The clock and sleep of poll and recvPacket; tests move their own clock.
    void setTimeSource(const TimeSource& time) noexcept { m_time = time; }

    ClientState state() const noexcept {
        return static_cast<ClientState>(m_state.load(std::memory_order_relaxed));
    }
    bool active() const noexcept { return state() == E_QELCS_CONNECTED; }

    // Enters a state: clears the state start (the next poll or receive takes its own
    // time) and the state counter. Client lock held.
    void enterState(ClientState state) noexcept;

    LogManager& log() noexcept { return *m_log; }
    platform::SpinLock& lock() noexcept { return m_lock; }
    // Queued requests; client lock held.
    RequestQueue& requests() noexcept { return m_requests; }
    uint32_t token() const noexcept { return m_token; }
    const char* errorText() const noexcept { return m_error; }

private:
    class Lock;
    struct TextMember;

    explicit VoiceClient(std::unique_ptr<LogManager> log) noexcept : m_log(std::move(log)) {}

    bool setText(TextMember member, ClientLockId id, const char* text) noexcept;
    // Takes a slot, or logs that none is left.
    sReq* takeSlot() noexcept;
    // The stored name, or "anonymous" while none is set.
    const char* nameForPacket() const noexcept;

    // Audio side of creation, reset and disconnect (defined with the audio members).
    // createAudio: false when memory runs out. audioComplete: whether every part of the
    // pipeline could be made (after the first reset).
    bool createAudio() noexcept;
    void resetAudio() noexcept;
    bool audioComplete() const noexcept;
    // The messages that the audio thread only counted, written by the poll loop.
    void writeAudioMessages() noexcept;
    // poll's wait: up to `ms`, or until a processed frame is ready (true).
    bool waitForFrame(uint32_t ms) noexcept;
    // Ends both recordings: a disconnect ends `recordpost`'s first, the client's
    // destruction `record`'s first.
    void finishRecordings() noexcept;
    void finishRecordingsAtDestruction() noexcept;

    // First: the retries and sleeps of everything below assume 1-ms sleeps.
    platform::FineSleepScope m_fineSleep;
    std::unique_ptr<LogManager> m_log;
    platform::SpinLock m_lock;

public:
    // The fields below are the client lock's: the poll loop and the receive path work
    // on them while holding it.
    uint32_t m_nexttick = 0;
    std::atomic<int32_t> m_state{E_QELCS_IDLE};
    uint32_t m_stateStart = 0;   // 0: the next poll or receive takes its own time
    int32_t m_stateCounter = 0;  // per-state counter or flag
    uint32_t m_token = 0;
    uint8_t m_udpUsable = 0;
    uint32_t m_serverAddress = 0;  // IPv4, network byte order
    int32_t m_serverPort = 0;
    char m_error[kErrorBytes] = {};
    uint8_t m_receive[kReceiveBytes] = {};
    int32_t m_receiveFill = 0;
    // A UDP datagram is walked here, never in the TCP stream's reassembly buffer.
    uint8_t m_datagram[kReceiveBytes] = {};
    uint8_t m_voiceKey[32] = {};  // from the ANNOUNCE answer's enckey
    uint32_t m_sendNonce = 0;     // nonce word of the voice packets sent
    uint32_t m_sendSequence = 0;  // sequence of the next voice packet sent
    // Milliseconds spent in poll ticks; the voice statistics take and zero it.
    uint32_t m_pollTimeMs = 0;
    TimeSource m_time;

private:
    char m_name[kTextBytes] = {};
    int32_t m_nameLength = 0;  // 0: packets carry "anonymous"
    char m_status[kTextBytes] = {};
    int32_t m_statusLength = 0;  // 0: packets carry an empty status
    RequestQueue m_requests;
    // Rings: about 2.7 s of 48 kHz stereo, 4 s of 32 kHz mono between two drains.
    WavRecorder m_deviceRecorder{2, size_t{1} << 18};
    WavRecorder m_processedRecorder{1, size_t{1} << 17};
    // Last: it refers to the log and the recorders, and goes before them.
    std::unique_ptr<ClientAudio, ClientAudioDeleter> m_audio;
};

}  // namespace session
