#include "taskbar/src/component_window.h"

#include <cstdio>

#include <jawt_md.h>

namespace taskbar {
namespace {

// The drawing surface, given back with FreeDrawingSurface.
class DrawingSurface {
public:
    DrawingSurface(const JAWT& awt, JNIEnv* env, jobject component) noexcept
        : m_awt(awt), m_surface(awt.GetDrawingSurface(env, component)) {}
    ~DrawingSurface() {
        if (m_surface != nullptr) {
            m_awt.FreeDrawingSurface(m_surface);
        }
    }
    DrawingSurface(const DrawingSurface&) = delete;
    DrawingSurface& operator=(const DrawingSurface&) = delete;

    JAWT_DrawingSurface* get() const noexcept { return m_surface; }

private:
    const JAWT& m_awt;
    JAWT_DrawingSurface* m_surface;
};

// A locked drawing surface, unlocked when it goes.
class SurfaceLock {
public:
    explicit SurfaceLock(JAWT_DrawingSurface* surface) noexcept
        : m_surface(surface), m_locked((surface->Lock(surface) & JAWT_LOCK_ERROR) == 0) {}
    ~SurfaceLock() {
        if (m_locked) {
            m_surface->Unlock(m_surface);
        }
    }
    SurfaceLock(const SurfaceLock&) = delete;
    SurfaceLock& operator=(const SurfaceLock&) = delete;

    bool locked() const noexcept { return m_locked; }

private:
    JAWT_DrawingSurface* m_surface;
    bool m_locked;
};

// The surface information, given back with FreeDrawingSurfaceInfo.
class SurfaceInfo {
public:
    explicit SurfaceInfo(JAWT_DrawingSurface* surface) noexcept
        : m_surface(surface), m_info(surface->GetDrawingSurfaceInfo(surface)) {}
    ~SurfaceInfo() {
        if (m_info != nullptr) {
            m_surface->FreeDrawingSurfaceInfo(m_info);
        }
    }
    SurfaceInfo(const SurfaceInfo&) = delete;
    SurfaceInfo& operator=(const SurfaceInfo&) = delete;

    JAWT_DrawingSurfaceInfo* get() const noexcept { return m_info; }

private:
    JAWT_DrawingSurface* m_surface;
    JAWT_DrawingSurfaceInfo* m_info;
};

}  // namespace

HWND findComponentWindow(JNIEnv* env, jobject component) {
    JAWT awt{};
    awt.version = JAWT_VERSION_1_3;
    if (JAWT_GetAWT(env, &awt) == JNI_FALSE) {
        std::printf("Failed to find AWT\n");
        return nullptr;
    }
    std::fflush(stdout);

    DrawingSurface surface(awt, env, component);
    if (surface.get() == nullptr) {
        std::fprintf(stderr, "Failed to get DS\n");
        std::fflush(stderr);
        return nullptr;
    }
    HWND window = nullptr;
    {
        // The info is freed before the surface is unlocked, and the surface is
        // unlocked before it is freed: the order the AWT asks for.
        SurfaceLock lock(surface.get());
        if (!lock.locked()) {
            std::fprintf(stderr, "Failed to lock DS\n");
            std::fflush(stderr);
            return nullptr;
        }
        SurfaceInfo info(surface.get());
        if (info.get() != nullptr && info.get()->platformInfo != nullptr) {
            window = static_cast<JAWT_Win32DrawingSurfaceInfo*>(info.get()->platformInfo)->hwnd;
        }
    }
    std::fflush(stdout);
    return window;
}

}  // namespace taskbar
