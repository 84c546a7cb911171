#!/usr/bin/env python3
"""Adapts the WebRTC tree unpacked from the firefox-esr source to a standalone build.

Mozilla's copy expects Gecko around it, and a few spots assume MSVC; each change below
replaces one exact text and fails loudly if that text is not there, so a different
tree cannot be half adapted.

    patch_webrtc.py TREE
"""
import os
import sys

CHANGES = [
    # Mozilla supplies its own clock; the tree's own is the one wanted here.
    ('rtc_base/system_time.cc',
     '#error Mozilla: Must not use the built-in libwebrtc clock\n', ''),
    # MSVC inline assembly; GCC has lrint.
    ('modules/audio_coding/codecs/isac/main/source/os_specific_inline.h',
     '#if defined(WEBRTC_POSIX)\n#define WebRtcIsac_lrint lrint\n',
     '#if defined(WEBRTC_POSIX) || defined(__GNUC__)\n#define WebRtcIsac_lrint lrint\n'),
    # Structured exception handling exists only in MSVC; without a handler the
    # debugger-naming exception would end the thread, so MinGW skips it.
    ('rtc_base/platform_thread_types.cc',
     '  __try {\n    ::RaiseException(0x406D1388, 0, sizeof(threadname_info) / sizeof(ULONG_PTR),\n'
     '                     reinterpret_cast<ULONG_PTR*>(&threadname_info));\n'
     '  } __except (EXCEPTION_EXECUTE_HANDLER) {  // NOLINT\n  }\n',
     '#if defined(_MSC_VER)\n'
     '  __try {\n    ::RaiseException(0x406D1388, 0, sizeof(threadname_info) / sizeof(ULONG_PTR),\n'
     '                     reinterpret_cast<ULONG_PTR*>(&threadname_info));\n'
     '  } __except (EXCEPTION_EXECUTE_HANDLER) {  // NOLINT\n  }\n'
     '#else\n  (void)threadname_info;\n#endif\n'),
    # MinGW's headers are lower case, and Linux file names are case sensitive.
    ('rtc_base/system/file_wrapper.cc', '#include <Windows.h>', '#include <windows.h>'),
]


def main():
    tree = sys.argv[1]
    for path, old, new in CHANGES:
        full = os.path.join(tree, path)
        with open(full, encoding='utf-8') as f:
            text = f.read()
        if old not in text:
            sys.exit('patch_webrtc: %s does not contain the expected text' % path)
        with open(full, 'w', encoding='utf-8') as f:
            f.write(text.replace(old, new, 1))


if __name__ == '__main__':
    main()
