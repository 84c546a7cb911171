// The voice engine of the process: the session binding, the log, the devices, the
// call stream and the call, the test tone and sound clips, the device rescan. One
// instance lives for the life of the process.
#pragma once

#include <atomic>
#include <string>

#include "engine/call.h"
#include "engine/call_stream.h"
#include "engine/device_registry.h"
#include "engine/device_rescan.h"
#include "engine/engine_log.h"
#include "engine/session_api.h"
#include "engine/sound_player.h"
#include "engine/stream_slots.h"

namespace tallix {

class Engine {
  public:
    explicit Engine(const PortAudioApi& pa) : registry(pa, log) {}
    // The process's engine is never destroyed; an engine made for a test gives back the
    // session client and log it took, after its call thread and stream are gone.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The process's engine on the real PortAudio; created on first use, never destroyed
    // (a call thread may still run while the process exits).
    static Engine& instance();
    // The process's engine if instance() has created it, else null; never throws.
    static Engine* existing() noexcept;

    // Binds the session library at `sessionLibraryPath`, creates the client and the
    // engine's log, probes the sound devices. False on any failure. Not thread-safe.
    bool initialise(const std::string& sessionLibraryPath);
    bool initialised() const noexcept { return m_initialised.load(std::memory_order_acquire); }

    const SessionApi& api() const noexcept { return binding.api(); }
    QelClient* client() const noexcept { return m_client.load(std::memory_order_acquire); }

    SessionBinding binding;
    EngineLog log;
    AudioControls controls;
    DeviceRegistry registry;
    StreamSlots slots;
    CallStreams streams{slots, registry, log, controls};
    CallEngine call{log, streams, controls};
    SoundPlayer sounds{slots, registry, log};
    DeviceRescan rescan{slots, registry, log, streams, sounds};

  private:
    std::atomic<QelClient*> m_client{nullptr};
    QelLogManager* m_logManager = nullptr;
    std::atomic<bool> m_initialised{false};
};

}  // namespace tallix
