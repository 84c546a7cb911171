// The session library loaded at run time and its entry points, looked up by name as
// the voice engine looks them up. Never linked: qel exports `poll`, which would stand
// in for the C library's in this process.
#pragma once

#include <string>

#include "platform/dynamic_library.h"
#include "session/qel_api.h"

namespace qelcall {

struct QelEntryPoints {
    decltype(&::getClient) getClient = nullptr;
    decltype(&::freeClient) freeClient = nullptr;
    decltype(&::version) version = nullptr;
    decltype(&::announce) announce = nullptr;
    decltype(&::connectVoice) connectVoice = nullptr;
    decltype(&::disconnect) disconnect = nullptr;
    decltype(&::command) command = nullptr;
    decltype(&::recvPacket) recvPacket = nullptr;
    decltype(&::poll) poll = nullptr;
    decltype(&::audioSetup) audioSetup = nullptr;
    decltype(&::audioIO) audioIO = nullptr;
    decltype(&::setAudioFlag) setAudioFlag = nullptr;
    decltype(&::loglevel) loglevel = nullptr;
    decltype(&::logwalk) logwalk = nullptr;
};

class QelLibrary {
public:
    // Loads the library and every entry point; false with `error` set when any is missing.
    bool load(const std::string& path, std::string& error);
    const QelEntryPoints& api() const { return m_api; }

private:
    platform::DynamicLibrary m_library;
    QelEntryPoints m_api;
};

}  // namespace qelcall
