// Device rescan. PortAudio enumerates the hardware only when its reference count goes
// from zero to one, so with a stream open the rescan either refuses or closes every
// stream, lets the count reach zero, enumerates and opens the streams again on the same
// devices, found by name.
#pragma once

#include "engine/call_stream.h"
#include "engine/device_registry.h"
#include "engine/sound_player.h"

namespace tallix {

class DeviceRescan {
  public:
    DeviceRescan(StreamSlots& slots, DeviceRegistry& registry, EngineLog& log,
                 CallStreams& streams, SoundPlayer& sounds)
        : m_slots(slots), m_registry(registry), m_log(log), m_streams(streams), m_sounds(sounds) {}

    // ok, busy (a stream is open and `restart` is false) or the failure's code. Runs on
    // the calling thread; a test tone that it restarts plays its full length first.
    [[nodiscard]] Result rescan(bool restart);

  private:
    [[nodiscard]] Result restartStreams();
    const PortAudioApi& pa() const noexcept { return m_registry.portAudio(); }

    StreamSlots& m_slots;
    DeviceRegistry& m_registry;
    EngineLog& m_log;
    CallStreams& m_streams;
    SoundPlayer& m_sounds;
};

}  // namespace tallix
