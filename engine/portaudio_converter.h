// PortAudio's sample format converters. The library does not publish them in its
// headers, but its static archive defines them and the engine links them from there, so
// a resampled clip is converted back to 16 bits exactly as PortAudio converts a stream:
// triangular dither, then clipping.
#pragma once

#include <portaudio.h>

extern "C" {

// Dither state; PortAudio keeps three 32-bit words (wider on some versions, so this
// leaves room for three longs).
struct PaUtilTriangularDitherGenerator {
    unsigned long previous;
    unsigned long randSeed1;
    unsigned long randSeed2;
};

typedef void PaUtilConverter(void* destination, signed int destinationStride, void* source,
                             signed int sourceStride, unsigned int count,
                             PaUtilTriangularDitherGenerator* dither);

PaUtilConverter* PaUtil_SelectConverter(PaSampleFormat sourceFormat,
                                        PaSampleFormat destinationFormat, PaStreamFlags flags);

void PaUtil_InitializeTriangularDitherState(PaUtilTriangularDitherGenerator* state);
}
