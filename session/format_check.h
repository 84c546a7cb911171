// Lets the compiler check printf-style format strings against their arguments.
#pragma once

#if defined(__MINGW32__)
// MinGW's C++ runtime formats with its own C99 printf, not the system's.
#define QEL_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#elif defined(__GNUC__)
#define QEL_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define QEL_PRINTF_FORMAT(fmt, first)
#endif
