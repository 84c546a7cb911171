// The Opus library's custom-mode entry points, exported by qel under their own names so
// that a host holding only qel can reach the codec.
//
// Opus is linked as a shared library (the packaged static archive is not position
// independent), and an ELF shared library cannot re-export another one's symbols. So
// each entry point here forwards to the function of the same name in the Opus library,
// found there once by lookup in that library alone. qel's own codec calls may bind to
// these forwarders too; they end in the Opus library all the same, never back here.
#define CUSTOM_MODES 1
#include <opus/opus_custom.h>

#include <cstdarg>
#include <type_traits>

#include "platform/dynamic_library.h"
#include "session/qel_api.h"

namespace {

struct OpusEntries {
    decltype(&::opus_custom_mode_create) modeCreate = nullptr;
    decltype(&::opus_custom_mode_destroy) modeDestroy = nullptr;
    decltype(&::opus_custom_encoder_get_size) encoderGetSize = nullptr;
    decltype(&::opus_custom_encoder_init) encoderInit = nullptr;
    decltype(&::opus_custom_encoder_create) encoderCreate = nullptr;
    decltype(&::opus_custom_encoder_destroy) encoderDestroy = nullptr;
    decltype(&::opus_custom_encode) encode = nullptr;
    decltype(&::opus_custom_encode_float) encodeFloat = nullptr;
    decltype(&::opus_custom_encoder_ctl) encoderCtl = nullptr;
    decltype(&::opus_custom_decoder_get_size) decoderGetSize = nullptr;
    decltype(&::opus_custom_decoder_init) decoderInit = nullptr;
    decltype(&::opus_custom_decoder_create) decoderCreate = nullptr;
    decltype(&::opus_custom_decoder_destroy) decoderDestroy = nullptr;
    decltype(&::opus_custom_decode) decode = nullptr;
    decltype(&::opus_custom_decode_float) decodeFloat = nullptr;
    decltype(&::opus_custom_decoder_ctl) decoderCtl = nullptr;
    decltype(&::opus_get_version_string) versionString = nullptr;
    decltype(&::opus_strerror) strerror = nullptr;
};

OpusEntries loadEntries() noexcept {
    OpusEntries entries;
    // The library is already loaded (qel depends on it), so this only finds it; it stays
    // loaded for as long as the process may call these functions.
    platform::DynamicLibrary library = platform::DynamicLibrary::open(QEL_OPUS_LIBRARY);
    if (!library) {
        return entries;
    }
    const auto bind = [&library](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(library.symbol(name));
    };
    bind(entries.modeCreate, "opus_custom_mode_create");
    bind(entries.modeDestroy, "opus_custom_mode_destroy");
    bind(entries.encoderGetSize, "opus_custom_encoder_get_size");
    bind(entries.encoderInit, "opus_custom_encoder_init");
    bind(entries.encoderCreate, "opus_custom_encoder_create");
    bind(entries.encoderDestroy, "opus_custom_encoder_destroy");
    bind(entries.encode, "opus_custom_encode");
    bind(entries.encodeFloat, "opus_custom_encode_float");
    bind(entries.encoderCtl, "opus_custom_encoder_ctl");
    bind(entries.decoderGetSize, "opus_custom_decoder_get_size");
    bind(entries.decoderInit, "opus_custom_decoder_init");
    bind(entries.decoderCreate, "opus_custom_decoder_create");
    bind(entries.decoderDestroy, "opus_custom_decoder_destroy");
    bind(entries.decode, "opus_custom_decode");
    bind(entries.decodeFloat, "opus_custom_decode_float");
    bind(entries.decoderCtl, "opus_custom_decoder_ctl");
    bind(entries.versionString, "opus_get_version_string");
    bind(entries.strerror, "opus_strerror");
    library.release();
    return entries;
}

const OpusEntries& opus() noexcept {
    static const OpusEntries entries = loadEntries();
    return entries;
}

// Calls the Opus library's `entry` with `args`, or answers `fallback` when the library
// did not provide it.
template <typename Entry, typename Result, typename... Args>
Result forward(Entry entry, Result fallback, Args... args) noexcept {
    return entry != nullptr ? entry(args...) : fallback;
}

template <typename Entry, typename... Args>
void forwardRelease(Entry entry, Args... args) noexcept {
    if (entry != nullptr) {
        entry(args...);
    }
}

// The create functions report through the caller's error variable as well.
template <typename Object, typename Entry, typename... Args>
Object* forwardCreate(Entry entry, int* error, Args... args) noexcept {
    if (entry == nullptr) {
        if (error != nullptr) {
            *error = OPUS_INTERNAL_ERROR;
        }
        return nullptr;
    }
    return entry(args..., error);
}

// The ctl functions take one argument after the request, an opus_int32 or a pointer,
// except OPUS_RESET_STATE, which takes none. A variadic argument list cannot be passed
// on as such, so the one argument is passed on in the pointer-sized slot it came in:
// on every ABI we build for, an int and a pointer each fill one such slot, and the
// codec reads back the type its request defines.
template <typename State, typename Ctl>
int forwardCtl(Ctl ctl, State* state, int request, va_list args) noexcept {
    if (ctl == nullptr) {
        return OPUS_INTERNAL_ERROR;
    }
    if (request == OPUS_RESET_STATE) {
        return ctl(state, request);
    }
    void* argument = va_arg(args, void*);
    return ctl(state, request, argument);
}

}  // namespace

extern "C" {

QEL_API OpusCustomMode* opus_custom_mode_create(opus_int32 Fs, int frame_size, int* error) {
    return forwardCreate<OpusCustomMode>(opus().modeCreate, error, Fs, frame_size);
}

QEL_API void opus_custom_mode_destroy(OpusCustomMode* mode) { forwardRelease(opus().modeDestroy, mode); }

QEL_API int opus_custom_encoder_get_size(const OpusCustomMode* mode, int channels) {
    return forward(opus().encoderGetSize, 0, mode, channels);
}

QEL_API int opus_custom_encoder_init(OpusCustomEncoder* st, const OpusCustomMode* mode, int channels) {
    return forward(opus().encoderInit, OPUS_INTERNAL_ERROR, st, mode, channels);
}

QEL_API OpusCustomEncoder* opus_custom_encoder_create(const OpusCustomMode* mode, int channels,
                                                      int* error) {
    return forwardCreate<OpusCustomEncoder>(opus().encoderCreate, error, mode, channels);
}

QEL_API void opus_custom_encoder_destroy(OpusCustomEncoder* st) { forwardRelease(opus().encoderDestroy, st); }

QEL_API int opus_custom_encode(OpusCustomEncoder* st, const opus_int16* pcm, int frame_size,
                               unsigned char* compressed, int maxCompressedBytes) {
    return forward(opus().encode, OPUS_INTERNAL_ERROR, st, pcm, frame_size, compressed, maxCompressedBytes);
}

QEL_API int opus_custom_encode_float(OpusCustomEncoder* st, const float* pcm, int frame_size,
                                     unsigned char* compressed, int maxCompressedBytes) {
    return forward(opus().encodeFloat, OPUS_INTERNAL_ERROR, st, pcm, frame_size, compressed,
                   maxCompressedBytes);
}

QEL_API int opus_custom_encoder_ctl(OpusCustomEncoder* st, int request, ...) {
    va_list args;
    va_start(args, request);
    const int result = forwardCtl(opus().encoderCtl, st, request, args);
    va_end(args);
    return result;
}

QEL_API int opus_custom_decoder_get_size(const OpusCustomMode* mode, int channels) {
    return forward(opus().decoderGetSize, 0, mode, channels);
}

QEL_API int opus_custom_decoder_init(OpusCustomDecoder* st, const OpusCustomMode* mode, int channels) {
    return forward(opus().decoderInit, OPUS_INTERNAL_ERROR, st, mode, channels);
}

QEL_API OpusCustomDecoder* opus_custom_decoder_create(const OpusCustomMode* mode, int channels,
                                                      int* error) {
    return forwardCreate<OpusCustomDecoder>(opus().decoderCreate, error, mode, channels);
}

QEL_API void opus_custom_decoder_destroy(OpusCustomDecoder* st) { forwardRelease(opus().decoderDestroy, st); }

QEL_API int opus_custom_decode(OpusCustomDecoder* st, const unsigned char* data, int len,
                               opus_int16* pcm, int frame_size) {
    return forward(opus().decode, OPUS_INTERNAL_ERROR, st, data, len, pcm, frame_size);
}

QEL_API int opus_custom_decode_float(OpusCustomDecoder* st, const unsigned char* data, int len,
                                     float* pcm, int frame_size) {
    return forward(opus().decodeFloat, OPUS_INTERNAL_ERROR, st, data, len, pcm, frame_size);
}

QEL_API int opus_custom_decoder_ctl(OpusCustomDecoder* st, int request, ...) {
    va_list args;
    va_start(args, request);
    const int result = forwardCtl(opus().decoderCtl, st, request, args);
    va_end(args);
    return result;
}

QEL_API const char* opus_get_version_string(void) {
    return forward(opus().versionString, "libopus unavailable");
}

QEL_API const char* opus_strerror(int error) {
    return forward(opus().strerror, "libopus unavailable", error);
}

}  // extern "C"
