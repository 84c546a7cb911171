#include "engine/engine.h"

namespace tallix {

namespace {
std::atomic<Engine*> g_engine{nullptr};
}  // namespace

Engine& Engine::instance() {
    // A creation that throws (out of memory) is tried again by the next call.
    static Engine* engine = [] {
        auto* created = new Engine(systemPortAudio());
        g_engine.store(created, std::memory_order_release);
        return created;
    }();
    return *engine;
}

Engine* Engine::existing() noexcept { return g_engine.load(std::memory_order_acquire); }

Engine::~Engine() {
    call.stop();
    streams.close();
    log.attach(nullptr, nullptr);
    if (binding.bound()) {
        binding.api().freeClient(m_client.load());
        binding.api().freeLogManager(m_logManager);
    }
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
    if (manager == nullptr) {
        return false;  // out of memory: an engine whose messages all vanish is no start
    }
    // A repeated initialisation replaces the client and log; the host may still hold
    // records of the old ones, so they are kept, as the first ones are.
    m_logManager = manager;
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
