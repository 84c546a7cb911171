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
 * still goes out. Returns 0 on success, otherwise the number of the failed step. */
int qelTestPollRoundTrip(const char* recording) {
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
