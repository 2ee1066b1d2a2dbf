#pragma once

// Marks a hand-off of data between threads for ThreadSanitizer where the synchronisation that
// makes it safe happens inside Qt: Qt is not built with the sanitizer, so its atomics and
// futex-based mutexes (the thread pool's queue, the posted-event list) are invisible to it.
// CRV_HANDOFF_RELEASE(object) on the sending thread after its last write, and
// CRV_HANDOFF_ACQUIRE(object) on the receiving thread before its first read, say what Qt already
// guarantees. Without ThreadSanitizer both are empty.

#if defined(__SANITIZE_THREAD__)
#define CRV_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CRV_THREAD_SANITIZER 1
#endif
#endif

#ifdef CRV_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#define CRV_HANDOFF_RELEASE(object) __tsan_release(static_cast<void*>(object))
#define CRV_HANDOFF_ACQUIRE(object) __tsan_acquire(static_cast<void*>(object))
#else
#define CRV_HANDOFF_RELEASE(object) static_cast<void>(object)
#define CRV_HANDOFF_ACQUIRE(object) static_cast<void>(object)
#endif
