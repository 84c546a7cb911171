#include "engine/engine.h"

namespace tallix {

Engine& Engine::instance() {
    static Engine* engine = new Engine(systemPortAudio());
    return *engine;
}

bool Engine::initialise(const std::string& sessionLibraryPath) {
    QelClient* client = binding.bind(sessionLibraryPath);
    if (client == nullptr) {
        return false;
    }
    const SessionApi& session = binding.api();
    m_client.store(client, std::memory_order_release);
    session.loglevel(client, kFine);
    QelLogManager* manager = session.createLogManager();
    session.clearLogs(manager);
    session.setLogLevel(manager, kFinest);
    log.attach(&session, manager);
    streams.setSession(&session, client);
    call.setSession(&session, client);
    if (registry.probe() != Result::ok) {
        log.log(kSevere, "Failed to init audio");
        return false;
    }
    log.log(kInfo, "Audio init complete");
    m_initialised.store(true, std::memory_order_release);
    return true;
}

}  // namespace tallix
