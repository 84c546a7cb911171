// The real voice channel of a conference participant: the voice cipher keyed with the
// participant's key and the Opus custom-mode codec at 32 kHz with 640-sample frames.
#pragma once

#include "tools/qel-server/conference.h"

namespace qelserver {

// Null when this build has no voice cipher and codec; the conference service is then
// refused with E_QELPS_CONNECTFAILED.
VoiceChannelFactory makeVoiceChannelFactory();

}  // namespace qelserver
