// Stand-in for the tracing header that the module's tree includes in place of its own:
// no tracing in this build. The value types are the ones the event tracer switches on.
#pragma once

#define TRACE_DISABLED_BY_DEFAULT(name) "disabled-by-default-" name
#define TRACE_EVENT0(category, name) \
    do {                              \
    } while (0)
#define TRACE_EVENT1(category, name, arg1_name, arg1_val) \
    do {                                                   \
    } while (0)
#define TRACE_EVENT2(category, name, arg1_name, arg1_val, arg2_name, arg2_val) \
    do {                                                                        \
    } while (0)
#define TRACE_EVENT_INSTANT0(category, name) \
    do {                                      \
    } while (0)
#define TRACE_EVENT_INSTANT1(category, name, arg1_name, arg1_val) \
    do {                                                           \
    } while (0)

#define TRACE_VALUE_TYPE_BOOL (static_cast<unsigned char>(1))
#define TRACE_VALUE_TYPE_UINT (static_cast<unsigned char>(2))
#define TRACE_VALUE_TYPE_INT (static_cast<unsigned char>(3))
#define TRACE_VALUE_TYPE_DOUBLE (static_cast<unsigned char>(4))
#define TRACE_VALUE_TYPE_POINTER (static_cast<unsigned char>(5))
#define TRACE_VALUE_TYPE_STRING (static_cast<unsigned char>(6))
#define TRACE_VALUE_TYPE_COPY_STRING (static_cast<unsigned char>(7))
