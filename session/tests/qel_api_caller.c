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
