// The real voice channel of a conference participant: the voice cipher keyed with the
// participant's key and the Opus custom-mode codec at 32 kHz with 640-sample frames.
#pragma once

#include "tools/qel-server/conference.h"

namespace qelserver {

// The factory gives no channel for a key shorter than 32 characters, or when the codec
// cannot be set up; such a CONNECT_TO is refused with E_QELPS_CONNECTFAILED.
VoiceChannelFactory makeVoiceChannelFactory();

}  // namespace qelserver
