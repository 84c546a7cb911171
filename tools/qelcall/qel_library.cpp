#include "tools/qelcall/qel_library.h"

namespace qelcall {

bool QelLibrary::load(const std::string& path, std::string& error) {
    std::string reason;
    m_library = platform::DynamicLibrary::open(path, &reason);
    if (!m_library) {
        error = "cannot load " + path + ": " + reason;
        return false;
    }
    bool ok = true;
    const auto bind = [&](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(m_library.symbol(name));
        if (slot == nullptr) {
            error += std::string(error.empty() ? "" : ", ") + name;
            ok = false;
        }
    };
    bind(m_api.getClient, "getClient");
    bind(m_api.freeClient, "freeClient");
    bind(m_api.version, "version");
    bind(m_api.announce, "announce");
    bind(m_api.connectVoice, "connectVoice");
    bind(m_api.disconnect, "disconnect");
    bind(m_api.command, "command");
    bind(m_api.recvPacket, "recvPacket");
    bind(m_api.poll, "poll");
    bind(m_api.audioSetup, "audioSetup");
    bind(m_api.audioIO, "audioIO");
    bind(m_api.setAudioFlag, "setAudioFlag");
    bind(m_api.loglevel, "loglevel");
    bind(m_api.logwalk, "logwalk");
    if (!ok) {
        error = path + " lacks the entry points " + error;
    }
    return ok;
}

}  // namespace qelcall
