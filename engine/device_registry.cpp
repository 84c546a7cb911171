#include "engine/device_registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tallix {

const char* toText(Result result) noexcept {
    switch (result) {
        case Result::ok:
            return "ok";
        case Result::deviceNotFound:
            return "device not found or unsuitable";
        case Result::busy:
            return "busy";
        case Result::failed:
            return "unexpected failure";
        case Result::noCommonRate:
            return "no common sample rate";
        case Result::exclusiveFailed:
            return "exclusive mode failed";
    }
    return "unknown";
}

std::string makeDeviceKey(const std::string& name, int index, int inputs, int outputs) {
    char key[DeviceRegistry::kMaxKeyLength + 1];
    std::snprintf(key, sizeof key, "%s|%02d|%02d|%02d", name.c_str(), index, inputs, outputs);
    return key;
}

PaError PortAudioReference::release() noexcept {
    if (m_error != paNoError) {
        return paNoError;
    }
    m_error = paNotInitialized;
    return m_pa.terminate();
}

Result DeviceRegistry::enumerate() {
    const PaHostApiInfo* host = m_pa->getHostApiInfo(m_hostApi);
    const int count = host ? host->deviceCount : paInternalError;
    if (count < 0) {
        m_log.log(kSevere, "Failed to fetch PortAudio device list: %s", m_pa->getErrorText(count));
        return Result::failed;
    }
    m_devices.clear();
    m_devices.resize(static_cast<size_t>(count));
    if (count == 0) {
        m_defaultInput = m_defaultOutput = -1;
        return Result::ok;
    }
    m_defaultInput = host->defaultInputDevice;
    m_defaultOutput = host->defaultOutputDevice;
    for (int i = 0; i < count; ++i) {
        DeviceEntry& entry = m_devices[static_cast<size_t>(i)];
        entry.index = i;
        entry.device = m_pa->hostApiDeviceIndexToDeviceIndex(m_hostApi, i);
        const PaDeviceInfo* info = m_pa->getDeviceInfo(entry.device);
        if (info == nullptr) {
            continue;  // a device that vanished between the count and now: left zeroed
        }
        entry.maxInputChannels = info->maxInputChannels;
        entry.maxOutputChannels = info->maxOutputChannels;
        entry.isInput = info->maxInputChannels > 0;
        entry.isOutput = info->maxOutputChannels > 0;
        entry.isDefaultInput = entry.device == m_defaultInput;
        entry.isDefaultOutput = entry.device == m_defaultOutput;
        entry.name = std::string(info->name ? info->name : "").substr(0, kMaxNameLength);
        entry.key = makeDeviceKey(entry.name, i, entry.maxInputChannels, entry.maxOutputChannels);
    }
    return Result::ok;
}

namespace {

// A channel count from a key: -1 (any) when the token is absent or out of range; a
// token without digits reads as 0, which must then match exactly.
long channelToken(const std::vector<std::string>& tokens, size_t i) {
    if (i >= tokens.size()) {
        return -1;
    }
    errno = 0;
    const long value = std::strtol(tokens[i].c_str(), nullptr, 10);
    return errno == ERANGE ? -1 : value;
}

}  // namespace

int DeviceRegistry::lookup(const std::string& key) const {
    // Split as strtok does: runs of "|" separate, empty fields vanish.
    const std::string text = key.substr(0, kMaxKeyLength);
    std::vector<std::string> tokens;
    size_t pos = 0;
    while (tokens.size() < 4 && pos < text.size()) {
        const size_t start = text.find_first_not_of('|', pos);
        if (start == std::string::npos) {
            break;
        }
        const size_t end = text.find('|', start);
        tokens.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        pos = end == std::string::npos ? text.size() : end;
    }
    if (tokens.empty()) {
        return -1;
    }
    const std::string name = tokens[0].substr(0, kMaxNameLength + 1);
    const long inputs = channelToken(tokens, 2);
    const long outputs = channelToken(tokens, 3);
    auto matches = [&](const DeviceEntry& e) {
        return e.name == name && (inputs == -1 || inputs == e.maxInputChannels) &&
               (outputs == -1 || outputs == e.maxOutputChannels);
    };
    if (tokens.size() > 1) {
        errno = 0;
        const long index = std::strtol(tokens[1].c_str(), nullptr, 10);
        if (errno != ERANGE && index >= 0 && index < static_cast<long>(m_devices.size()) &&
            matches(m_devices[static_cast<size_t>(index)])) {
            return m_devices[static_cast<size_t>(index)].device;
        }
    }
    for (const DeviceEntry& entry : m_devices) {
        if (matches(entry)) {
            return entry.device;
        }
    }
    return -1;
}

const DeviceEntry* DeviceRegistry::entryForDevice(int device) const noexcept {
    for (const DeviceEntry& entry : m_devices) {
        if (entry.device == device) {
            return &entry;
        }
    }
    return nullptr;
}

Result DeviceRegistry::enumerateWith(const PortAudioReference& reference) {
    if (!reference.held()) {
        m_log.log(kSevere, "Error while initialising PortAudio: %s",
                  m_pa->getErrorText(reference.error()));
        return Result::failed;
    }
    return enumerate();
}

Result DeviceRegistry::probe() {
    PortAudioReference reference(*m_pa);
    if (!reference.held()) {
        m_log.log(kSevere, "Failed to initialise PortAudio: %s",
                  m_pa->getErrorText(reference.error()));
        return Result::failed;
    }
    // The library's default host API is the one the registry lists (WASAPI or MME on
    // Windows, ALSA here); choosing it before the first listing keeps device numbers
    // and list positions apart correctly even where it is not host API 0.
    const PaHostApiIndex chosen = m_pa->getDefaultHostApi();
    if (chosen >= 0) {
        m_hostApi = chosen;
    }
    if (const Result result = enumerate(); result != Result::ok) {
        return result;
    }
    const PaHostApiInfo* info = m_pa->getHostApiInfo(m_hostApi);
    m_log.log(kInfo, "Using PortAudio backend: %s", info && info->name ? info->name : "");
    m_log.log(kInfo, "Available PortAudio backends:");
    const PaHostApiIndex count = m_pa->getHostApiCount();
    for (PaHostApiIndex i = 0; i < count; ++i) {
        const PaHostApiInfo* api = m_pa->getHostApiInfo(i);
        m_log.log(kInfo, "  [%d] %s", i, api && api->name ? api->name : "");
    }
    if (reference.release() == paNotInitialized) {
        m_log.log(kWarning, "Error while shutting down PortAudio: %s",
                  m_pa->getErrorText(paNotInitialized));
    }
    return Result::ok;
}

}  // namespace tallix
