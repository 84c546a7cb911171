#include "session/voice_client.h"

#include <cstring>
#include <ctime>
#include <new>

#include "platform/clock.h"
#include "session/client_lock.h"

namespace session {

namespace {

const char kDtmfKeys[] = "0123456789*#ABCD";
constexpr uint8_t kDtmfKeyCount = 16;

const char* orEmpty(const char* text) noexcept { return text != nullptr ? text : ""; }

// The user's name or status as a field. The client stores 63 characters but a field
// carries one less; the text goes out cut to what fits rather than being left out of
// the packet, which would announce the user as nameless.
void addUserText(PacketBuilder& packet, FieldKey key, const char* text) noexcept {
    addField(packet, key, "%.*s", static_cast<int>(kFieldKeys[key].cap - 1), text);
}

// "%Y-%m-%dT%H%M" of the local time, for the connect message.
void formatLocalTime(char* out, size_t size) noexcept {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!platform::localTime(now, local) || std::strftime(out, size, "%Y-%m-%dT%H%M", &local) == 0) {
        out[0] = '\0';
    }
}

}  // namespace

// The name or the status: its stored text and the field and label that carry it.
struct VoiceClient::TextMember {
    char* text;
    int32_t* length;
    FieldKey key;
    const char* label;
};

std::unique_ptr<VoiceClient> VoiceClient::create() noexcept {
    std::unique_ptr<LogManager> log = LogManager::create();
    if (!log) {
        return nullptr;
    }
    std::unique_ptr<VoiceClient> client(new (std::nothrow) VoiceClient(std::move(log)));
    if (!client || !client->createAudio()) {
        return nullptr;
    }
    client->reset();
    // The processing module is made by the first reset; a client without it would
    // carry a voice without echo cancellation, so out of memory there means no client.
    if (!client->audioComplete()) {
        return nullptr;
    }
    return client;
}

VoiceClient::~VoiceClient() {
    finishRecordingsAtDestruction();
    m_log->clear();
}

void VoiceClient::reset() noexcept {
    m_log->clear();
    m_nexttick = 0;
    m_nameLength = 0;
    m_statusLength = 0;
    m_state.store(E_QELCS_IDLE, std::memory_order_relaxed);
    m_stateStart = 0;
    m_stateCounter = 0;
    m_udpUsable = 0;
    m_token = 0;
    m_serverAddress = 0;
    m_serverPort = 0;
    m_receiveFill = 0;
    m_pollTimeMs = 0;
    m_requests.reset();
    resetAudio();
    m_error[0] = '\0';
    m_log->log(kLogInfo, "Client object initialised");
}

void VoiceClient::enterState(ClientState state) noexcept {
    m_state.store(state, std::memory_order_relaxed);
    m_stateStart = 0;
    m_stateCounter = 0;
}

sReq* VoiceClient::takeSlot() noexcept {
    sReq* slot = m_requests.take();
    if (slot == nullptr) {
        m_log->log(kLogSevere, "Out of sReq slots!");
    }
    return slot;
}

const char* VoiceClient::nameForPacket() const noexcept {
    return m_nameLength != 0 ? m_name : "anonymous";
}

bool VoiceClient::announce() noexcept {
    Lock lock(*this, kLockAnnounce);
    if (!lock) {
        return false;
    }
    if (state() != E_QELCS_IDLE) {
        m_log->log(kLogWarning, "announce() called in state=%d", state());
        return false;
    }
    m_log->log(kLogFine, "announce()");
    sReq* slot = takeSlot();
    if (slot == nullptr) {
        return false;
    }
    enterState(E_QELCS_ANNOUNCING);
    initPacket(slot->packet, m_token, E_QELPT_ANNOUNCE);
    addUserText(slot->packet, E_FLD_NAME, nameForPacket());
    addUserText(slot->packet, E_FLD_STATUS, m_statusLength != 0 ? m_status : "");
    addField(slot->packet, E_FLD_VERSION, "%s", kProtocolVersion);
    addField(slot->packet, E_FLD_CODEC, "%s", kCodec);
    m_requests.enqueue(slot);
    return true;
}

bool VoiceClient::connectVoice(const char* service, const char* pin) noexcept {
    service = orEmpty(service);
    pin = orEmpty(pin);
    Lock lock(*this, kLockConnectVoice);
    if (!lock) {
        return false;
    }
    const ClientState current = state();
    if (current < E_QELCS_ANNOUNCING || current > E_QELCS_NETREADY) {
        m_log->log(kLogWarning, "connect(%s) called in state=%d", pin, current);
        return false;
    }
    char when[256];
    formatLocalTime(when, sizeof when);
    m_log->log(kLogFine, "connect(%s) @ %s", pin, when);
    sReq* slot = takeSlot();
    if (slot == nullptr) {
        return false;
    }
    enterState(E_QELCS_CONNECTING);
    initPacket(slot->packet, m_token, E_QELPT_CONNECT_TO);
    addField(slot->packet, E_FLD_SERVICE, "%s", service);
    addField(slot->packet, E_FLD_PIN, "%s", pin);
    m_requests.enqueue(slot);
    return true;
}

bool VoiceClient::dtmf(uint8_t digit) noexcept {
    Lock lock(*this, kLockDtmf);
    if (!lock) {
        return false;
    }
    if (state() != E_QELCS_CONNECTED) {
        m_log->log(kLogWarning, "dtmf(%d) called in state=%d", digit, state());
        return false;
    }
    if (digit >= kDtmfKeyCount) {
        m_log->log(kLogWarning, "dtmf(%d) invalid digit", digit);
        return false;
    }
    m_log->log(kLogFine, "dtmf(%d)", digit);
    sReq* slot = takeSlot();
    if (slot == nullptr) {
        return false;
    }
    initPacket(slot->packet, m_token, E_QELPT_COMMAND);
    addField(slot->packet, E_FLD_DTMF, "%c", kDtmfKeys[digit]);
    m_requests.enqueue(slot);
    return true;
}

bool VoiceClient::setName(const char* text) noexcept {
    return setText({m_name, &m_nameLength, E_FLD_NAME, "name"}, kLockSetName, text);
}

bool VoiceClient::setStatus(const char* text) noexcept {
    return setText({m_status, &m_statusLength, E_FLD_STATUS, "status"}, kLockSetStatus, text);
}

bool VoiceClient::command(int kind, const char* text) noexcept {
    switch (kind) {
        case 1:
            return setName(text);
        case 2:
            return setStatus(text);
        default:
            return false;
    }
}

bool VoiceClient::setText(TextMember member, ClientLockId id, const char* text) noexcept {
    text = orEmpty(text);
    Lock lock(*this, id);
    if (!lock) {
        return false;
    }
    m_log->log(kLogFine, "Set %s=[%s]", member.label, text);
    const auto length = static_cast<int32_t>(strnlen(text, kTextBytes - 1));
    if (length == *member.length && std::memcmp(text, member.text, length) == 0) {
        return true;
    }
    std::memcpy(member.text, text, length);
    member.text[length] = '\0';
    *member.length = length;

    const ClientState current = state();
    if (current < E_QELCS_ANNOUNCING || current > E_QELCS_CONNECTED) {
        // Idle: the coming ANNOUNCE carries it. Failed or ended: only stored.
        return true;
    }
    // Changes made before the queue drains share one UPDATE, a line each, in order.
    sReq* slot = m_requests.findQueued(E_QELPT_UPDATE);
    if (slot == nullptr) {
        slot = takeSlot();
        if (slot == nullptr) {
            return true;
        }
        initPacket(slot->packet, m_token, E_QELPT_UPDATE);
    }
    addUserText(slot->packet, member.key, member.key == E_FLD_NAME ? nameForPacket() : member.text);
    m_requests.enqueue(slot);
    return true;
}

bool VoiceClient::disconnect() noexcept {
    finishRecordings();
    Lock lock(*this, kLockDisconnect);
    if (!lock) {
        return false;
    }
    return disconnectLocked();
}

bool VoiceClient::disconnectLocked() noexcept {
    // Every disconnect ends the recordings, including the session's own.
    finishRecordings();
    const ClientState current = state();
    if (current < E_QELCS_ANNOUNCING || current > E_QELCS_FAILED) {
        m_log->log(kLogWarning, "disconnect() called in state=%d", current);
        return false;
    }
    m_log->log(kLogSevere, "disconnect()");
    sReq* slot = takeSlot();
    if (slot == nullptr) {
        return false;
    }
    initPacket(slot->packet, m_token, E_QELPT_DISCONNECT);
    enterState(E_QELCS_DISCONNECTED);
    m_requests.enqueue(slot);
    return true;
}

}  // namespace session
