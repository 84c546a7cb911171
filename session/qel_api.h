/* Entry points of the voice session library qel, as plain C.
 *
 * Every entry point is an unmangled cdecl function taking and returning 32-bit values.
 * Booleans come back as int, 1 or 0 (a caller that tests only the low byte reads the
 * same answer). Handles are opaque; each object the library hands out has a release
 * entry point. Nothing here raises an exception or sets the platform's last error.
 * Entry points that take a handle ignore a null one (returning 0 or null).
 */
#ifndef ZEPHRA_SESSION_QEL_API_H
#define ZEPHRA_SESSION_QEL_API_H

#include <stdarg.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(QEL_BUILDING_LIBRARY)
#define QEL_API __declspec(dllexport)
#else
#define QEL_API
#endif
#else
#define QEL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QelClient QelClient;
typedef struct QelLogManager QelLogManager;

/* One entry of a log walk. `text` is the NUL-terminated line "SSSS.mmm message";
 * `length` is the whole stored entry, its 17-byte header included. Owned by the log,
 * valid until the next walk, clear or free of the same log. */
typedef struct LogWalkEntry {
    int32_t level;
    const char* text;
    uint32_t length;
} LogWalkEntry;

/* Session client. getClient returns null when memory runs out. reset and freeClient
 * must not overlap any other call on the same client; the requests (announce,
 * connectVoice, dtmf, command, disconnect) may come from any thread. A request's result
 * says only whether its packet was queued. */
QEL_API QelClient* getClient(void);
QEL_API void freeClient(QelClient* client);
QEL_API void reset(QelClient* client);
QEL_API const char* version(void);
QEL_API int active(QelClient* client);
QEL_API int announce(QelClient* client);
QEL_API int connectVoice(QelClient* client, const char* service, const char* pin);
QEL_API int disconnect(QelClient* client);
/* digit 0-9, 10 '*', 11 '#', 12-15 'A'-'D'; taken as an unsigned byte. */
QEL_API int dtmf(QelClient* client, int digit);
/* kind 1 sets the user's name, kind 2 the status; any other kind returns 0. */
QEL_API int command(QelClient* client, int kind, const char* text);

/* The client's own log. */
QEL_API void loglevel(QelClient* client, int level);
QEL_API const LogWalkEntry* logwalk(QelClient* client);

/* Free-standing logs for the caller's own messages. Levels: 1 severe .. 5 finest; a log
 * keeps messages whose level is between 1 and its own level (3 until set). */
QEL_API QelLogManager* LogManager_createLogManager(void);
QEL_API void LogManager_freeLogManager(QelLogManager* log);
QEL_API void LogManager_setLogLevel(QelLogManager* log, int level);
/* Result: 1 when the message was stored, else 0 (callers may ignore it). */
QEL_API int LogManager_vlog(QelLogManager* log, int level, const char* format, va_list args);
QEL_API void LogManager_clearLogs(QelLogManager* log);
/* Next entry of the snapshot being walked, or null when it is exhausted; what is logged
 * during a walk comes in the walk cycle that starts after that null. */
QEL_API const LogWalkEntry* LogManager_logWalk(QelLogManager* log);

#ifdef __cplusplus
}
#endif

#endif /* ZEPHRA_SESSION_QEL_API_H */
