#pragma once

#include <QRecursiveMutex>

#if defined(__SANITIZE_THREAD__) && __has_include(<sanitizer/tsan_interface.h>)
#define PELORVANE_TSAN_ANNOTATE
#include <sanitizer/tsan_interface.h>
#endif

// The re-entrant lock of a list. QRecursiveMutex locks in the Qt library itself, which is not
// built for ThreadSanitizer, so a sanitizer build would see no ordering between threads and
// report every list access as a race; under ThreadSanitizer this wrapper tells it about each
// lock and unlock. Otherwise it is a plain QRecursiveMutex.
class ListMutex {
public:
    ListMutex() {
#ifdef PELORVANE_TSAN_ANNOTATE
        __tsan_mutex_create(this, __tsan_mutex_write_reentrant);
#endif
    }
    ~ListMutex() {
#ifdef PELORVANE_TSAN_ANNOTATE
        __tsan_mutex_destroy(this, 0);
#endif
    }
    ListMutex(const ListMutex &) = delete;
    ListMutex &operator=(const ListMutex &) = delete;

    void lock() {
#ifdef PELORVANE_TSAN_ANNOTATE
        __tsan_mutex_pre_lock(this, 0);
#endif
        m_mutex.lock();
#ifdef PELORVANE_TSAN_ANNOTATE
        __tsan_mutex_post_lock(this, 0, 0);
#endif
    }

    void unlock() {
#ifdef PELORVANE_TSAN_ANNOTATE
        __tsan_mutex_pre_unlock(this, 0);
#endif
        m_mutex.unlock();
#ifdef PELORVANE_TSAN_ANNOTATE
        __tsan_mutex_post_unlock(this, 0);
#endif
    }

private:
    QRecursiveMutex m_mutex;
};
