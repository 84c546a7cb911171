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

/* Event codes that poll reports. */
enum {
    E_QELEV_NONE = 0,         /* nothing to do; poll returned 0 */
    E_QELEV_UDPADDR = 1,      /* data[0..3]: server IPv4 address, network byte order;
                                 data[4..7]: server UDP port, little-endian 32-bit */
    E_QELEV_NET_UDP = 2,      /* detection found UDP usable: call connectVoice */
    E_QELEV_NET_TCP = 3,      /* detection fell back to TCP: call connectVoice */
    E_QELEV_CONNECTED = 4,    /* the call is connected */
    E_QELEV_ERROR = 5,        /* data: NUL-terminated error text, length its characters */
    E_QELEV_SEND_UDP = 6,     /* data: one packet of `length` bytes for the UDP endpoint */
    E_QELEV_SEND_TCP = 7,     /* data: one packet of `length` bytes for the TCP connection */
    E_QELEV_DISCONNECTED = 8  /* the call has ended */
};

#define QEL_POLL_EVENT_DATA 1024

/* The record that poll fills; owned by the caller. `length` counts the data bytes of
 * codes 5, 6 and 7 and is 0 otherwise. */
typedef struct PollEvent {
    int32_t code;
    int32_t length;
    uint8_t data[QEL_POLL_EVENT_DATA];
} PollEvent;

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

/* The network side, both on the caller's call thread.
 * recvPacket hands in bytes received from the server: one UDP datagram (viaUdp's low
 * byte non-zero) or a piece of the TCP stream (low byte 0); its result means nothing.
 * poll runs one 20 ms step of the session and returns 1 when `event` holds an event,
 * to be acted on before calling poll again at once; 0 after it has waited for the next
 * step. After E_QELEV_DISCONNECTED, keep polling until poll returns 0 so that the
 * DISCONNECT packet for the server is handed out, then reset or free the client.
 * On Linux poll is also the C library's name: callers look it up in the loaded library
 * (dlsym), as the voice engine looks up every entry point; the library's own symbols
 * carry the version QEL_1, so other libraries in the process keep the C library's. */
QEL_API int recvPacket(QelClient* client, const void* bytes, int length, int viaUdp);
QEL_API int poll(QelClient* client, PollEvent* event);

/* The audio pipeline. Audio inside is mono 16-bit at 32,000 Hz; at this boundary,
 * float channels in -1..1 at the device rate.
 * audioSetup: device rate (Hz), samples per channel in every buffer given to audioIO
 * (at most 32,000), device latency in device samples. Returns the rate when neither
 * rate nor frames changed (nothing happens, buffered audio is kept), 2 when set up, 0
 * when refused (rate or frames 0 or less, frames above 32,000; nothing changes) or when
 * the jitter buffer cannot be created. Call it before the session connects or, when
 * the device changes, during the call; never overlapping audioIO or poll on the same
 * client. A recvPacket on another thread (a reader handing in datagrams while poll
 * sleeps) may overlap it: the change waits for the frame being queued, and frames
 * handed in meanwhile go to the new format.
 * audioIO: one device buffer, from the audio callback thread: arrays of channel
 * pointers (null entries skipped, the first 16 considered), each holding `frames`
 * samples. The inputs are mixed, scaled by inputGain / their count, processed and
 * queued for sending; every output receives the same decoded far-end audio scaled by
 * outputGain. A negative gain acts as 0. Until the first voice packet arrives after a
 * reset, outputs are silent and nothing is captured. Returns 0, touching no buffer,
 * before a usable audioSetup; else 1. It never blocks for more than about 20 ms: when
 * the pipeline stays busy, that buffer is skipped with silent outputs.
 * loopback: does nothing; the caller's loopback test mode calls it instead of audioIO.
 * setAudioFlag / getAudioFlag: 1 echo cancellation, 2 gain control, 3 noise
 * suppression (all on in a new client; they survive reset). setAudioFlag returns 0 for
 * any other flag and changes nothing; getAudioFlag returns 1 or 0 (0 for any other
 * flag). Any thread. */
QEL_API int audioSetup(QelClient* client, int rate, int frames, int latency);
QEL_API int audioIO(QelClient* client, const float* const* inputs, int inputCount, float inputGain,
                    float* const* outputs, int outputCount, float outputGain);
QEL_API void loopback(void);
QEL_API int setAudioFlag(QelClient* client, int flag, int on);
QEL_API int getAudioFlag(QelClient* client, int flag);

/* Call recordings, 16-bit PCM WAV. record: two channels at the device rate given to
 * audioSetup, what was captured (left) and what was played (right). recordpost: the
 * processed capture, mono at 32,000 Hz. Both are fed from audioIO while the far end is
 * heard; the poll loop writes them to disk between ticks. Starting a recorder ends its previous
 * recording; every disconnect and freeClient end both, with the header's sizes made
 * right. 0 when the file cannot be created. Must not overlap disconnect or freeClient. */
QEL_API int record(QelClient* client, const char* path);
QEL_API int recordpost(QelClient* client, const char* path);

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
