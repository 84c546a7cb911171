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

#include "platform/spin_lock.h"
#include "session/format_check.h"
#include "session/log_manager.h"
#include "session/request_queue.h"

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
    static constexpr const char* kProtocolVersion = "1.0.0";
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

    // Audio side of reset and disconnect (defined with the audio members).
    void resetAudio() noexcept;
    void finishRecordings() noexcept;

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
    uint32_t m_lastVoiceReceive = 0;  // ms; 0 until the first voice packet

private:
    char m_name[kTextBytes] = {};
    int32_t m_nameLength = 0;  // 0: packets carry "anonymous"
    char m_status[kTextBytes] = {};
    int32_t m_statusLength = 0;  // 0: packets carry an empty status
    RequestQueue m_requests;
};

}  // namespace session
