// The session library loaded at run time and its entry points, looked up by name as
// the voice engine looks them up. Never linked: qel exports `poll`, which would stand
// in for the C library's in this process.
#pragma once

#include <string>

#include "platform/dynamic_library.h"
#include "session/qel_entry_points.h"

namespace qelcall {

// Every entry point of the library, typed from qel_api.h: the voice engine's table.
using QelEntryPoints = session::QelEntryPoints;

class QelLibrary {
public:
    // Loads the library and resolves every entry point; false with `error` set when the
    // library cannot be loaded or lacks one.
    bool load(const std::string& path, std::string& error);
    const QelEntryPoints& api() const { return m_api; }

private:
    platform::DynamicLibrary m_library;
    QelEntryPoints m_api;
};

}  // namespace qelcall
