// Waiting.
#include "syscalls.h"
#include "winapi.h"

#include <cerrno>

void Sleep(DWORD milliseconds) {
    struct timespec duration = {static_cast<time_t>(milliseconds / 1000),
                                static_cast<long>(milliseconds % 1000) * 1000000L};
    while (posixCalls.nanosleep(&duration, &duration) != 0 && errno == EINTR) {
    }
}
