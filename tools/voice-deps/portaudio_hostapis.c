/* PortAudio's host API table for the Windows build: WASAPI first, then MME. PortAudio
 * makes the first host API that reports a default device its default host API, so
 * WASAPI is the default wherever it initialises and MME where it does not (before
 * Windows Vista). */
#include "pa_hostapi.h"

PaError PaWasapi_Initialize(PaUtilHostApiRepresentation** hostApi, PaHostApiIndex index);
PaError PaWinMme_Initialize(PaUtilHostApiRepresentation** hostApi, PaHostApiIndex index);

PaUtilHostApiInitializer* paHostApiInitializers[] = {
    PaWasapi_Initialize,
    PaWinMme_Initialize,
    0,
};
