/* Built as a library of its own, linked against the C library only, as PortAudio or
 * ALSA are: its call to poll must reach the C library's poll even in a process that
 * has loaded qel, which exports a function of the same name. */
#include <poll.h>
#include <stddef.h>

int qelTestLibcPollFails(void) {
    /* One descriptor at a null address: the C library's poll fails with EFAULT. */
    return poll(NULL, 1, 0) == -1;
}
