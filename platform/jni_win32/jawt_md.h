/* Windows part of the AWT native interface: what a locked drawing surface tells about
 * the component on Windows. Layout as the Windows JDK defines it. */
#ifndef _JAVASOFT_JAWT_MD_H_
#define _JAVASOFT_JAWT_MD_H_

#include <windows.h>

#include "jawt.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct jawt_Win32DrawingSurfaceInfo {
    /* The component's window for heavyweight components (the usual case), or an
     * off-screen bitmap and its bits when the surface is one. */
    union {
        HWND hwnd;
        HBITMAP hbitmap;
        void* pbits;
    };
    /* Device context of the surface, valid while it is locked. */
    HDC hdc;
    HPALETTE hpalette;
} JAWT_Win32DrawingSurfaceInfo;

#ifdef __cplusplus
}
#endif

#endif /* !_JAVASOFT_JAWT_MD_H_ */
