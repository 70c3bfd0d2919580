#pragma once

// Debian's Qt is not built for ThreadSanitizer: orderings that Qt makes inside the library
// (thread end and join, event delivery) are invisible to it. Where our code relies on one,
// it states the ordering with these; they are empty in other builds.
#if defined(__SANITIZE_THREAD__) && __has_include(<sanitizer/tsan_interface.h>)
#include <sanitizer/tsan_interface.h>
inline void tsanRelease(void *address) {
    __tsan_release(address);
}
inline void tsanAcquire(void *address) {
    __tsan_acquire(address);
}
#else
inline void tsanRelease(void *) {}
inline void tsanAcquire(void *) {}
#endif
