#include "tools/qel-server/voice_channels.h"

namespace qelserver {

// Builds without the session library's voice cipher and codec cannot take part in a
// conference.
VoiceChannelFactory makeVoiceChannelFactory() {
    return nullptr;
}

}  // namespace qelserver
