/* A C caller of the library's interface: proves the header is plain C and that the
 * names resolve from the shared library. */
#include <stdarg.h>
#include <string.h>

#include "session/qel_api.h"

int qelTestVlog(QelLogManager* log, int level, const char* format, ...) {
    va_list args;
    int stored;
    va_start(args, format);
    stored = LogManager_vlog(log, level, format, args);
    va_end(args);
    return stored;
}

/* Announces a fresh client, sets a name, and checks the client's own log. Returns 0 on
 * success, otherwise the number of the failed step. */
int qelTestClientRoundTrip(void) {
    QelClient* client = getClient();
    const LogWalkEntry* entry;
    int sawInit = 0;
    int result = 0;
    if (client == NULL) {
        return 1;
    }
    loglevel(client, 4);
    if (active(client) != 0) {
        result = 2;
    } else if (announce(client) != 1) {
        result = 3;
    } else if (announce(client) != 0) {
        result = 4;
    } else if (command(client, 1, "c caller") != 1 || command(client, 3, "x") != 0) {
        result = 5;
    } else if (dtmf(client, 1) != 0 || connectVoice(client, "svc", "1") != 1) {
        result = 6;
    } else if (disconnect(client) != 1 || disconnect(client) != 0) {
        result = 7;
    }
    while ((entry = logwalk(client)) != NULL) {
        if (strcmp(entry->text + 9, "Client object initialised") == 0 && entry->level == 3) {
            sawInit = 1;
        }
    }
    if (result == 0 && !sawInit) {
        result = 8;
    }
    reset(client);
    if (result == 0 && announce(client) != 1) {
        result = 9;
    }
    freeClient(client);
    return result;
}

/* A call's control flow through the network entry points: the ANNOUNCE goes out, the
 * server's answer comes in, the end of the call is reported once and the DISCONNECT
 * still goes out. `poll` is the library's, looked up by name as the voice engine does:
 * called by name here it could bind to the C library's poll (a sanitizer runtime
 * defines one ahead of every library). Returns 0 on success, otherwise the number of
 * the failed step. */
int qelTestPollRoundTrip(const char* recording, int (*poll)(QelClient*, PollEvent*)) {
    static const char answer[] =
        "udpaddr:127.0.0.1:4000\nenckey:0123456789abcdefghijklmnopqrstuv\n";
    unsigned char packet[16 + sizeof answer - 1] = {0x66, 0x15, 0x72, 0x57, 0x07, 0, 0, 0,
                                                    sizeof packet, 0, 1, 1};
    PollEvent event;
    QelClient* client = getClient();
    int result = 0;
    memcpy(packet + 16, answer, sizeof answer - 1);
    if (client == NULL) {
        return 1;
    }
    if (recordpost(client, recording) != 1 || record(client, "") != 0) {
        result = 2;
    } else if (announce(client) != 1 || poll(client, &event) != 1 || event.code != E_QELEV_SEND_TCP ||
               event.length != 70) {
        result = 3;
    } else if (recvPacket(client, packet, (int)sizeof packet, 0x100) != 0 || poll(client, &event) != 1 ||
               event.code != E_QELEV_UDPADDR || event.data[0] != 127 || event.data[4] != 0xA0) {
        result = 4;
    } else if (disconnect(client) != 1 || poll(client, &event) != 1 || event.code != E_QELEV_DISCONNECTED) {
        result = 5;
    } else if (poll(client, &event) != 1 || event.code != E_QELEV_SEND_TCP || event.data[10] != 4) {
        result = 6;
    } else if (poll(client, &event) != 0 || event.code != E_QELEV_NONE) {
        result = 7;
    }
    freeClient(client);
    return result;
}

/* The audio entry points as the voice engine calls them: flags at any time, the device
 * format, buffers before the far end is heard, and loopback in place of audioIO.
 * Returns 0 on success, otherwise the number of the failed step. */
int qelTestAudio(void) {
    float left[512];
    float right[512];
    const float* inputs[2];
    float* outputs[2];
    QelClient* client = getClient();
    int result = 0;
    if (client == NULL) {
        return 1;
    }
    inputs[0] = left;
    inputs[1] = NULL;
    outputs[0] = left;
    outputs[1] = right;
    memset(left, 0, sizeof left);
    right[0] = 0.25f;
    if (getAudioFlag(client, 1) != 1 || getAudioFlag(client, 4) != 0 || setAudioFlag(client, 4, 1) != 0) {
        result = 2;
    } else if (setAudioFlag(client, 3, 0) != 1 || getAudioFlag(client, 3) != 0) {
        result = 3;
    } else if (audioIO(client, inputs, 2, 1.0f, outputs, 2, 1.0f) != 0 || right[0] != 0.25f) {
        result = 4;
    } else if (audioSetup(client, 0, 512, 0) != 0 || audioSetup(client, 48000, 512, 1024) != 2 ||
               audioSetup(client, 48000, 512, 0) != 48000) {
        result = 5;
    } else if (audioIO(client, inputs, 2, 1.0f, outputs, 2, 1.0f) != 1 || right[0] != 0.0f) {
        result = 6;
    }
    loopback();
    freeClient(client);
    return result;
}
