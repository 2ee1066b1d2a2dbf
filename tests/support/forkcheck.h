#pragma once

#include <QTest>

// ThreadSanitizer cannot follow a threaded process through fork: it ends the child before its
// exec, and from then on misses the ordering between the parent's own threads, so every later
// hand-off reads as a race. A case that starts a child process is skipped in that build only;
// the normal and the AddressSanitizer builds still run it.
#if defined(__SANITIZE_THREAD__)
#define CRV_TSAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CRV_TSAN_BUILD 1
#endif
#endif

#ifdef CRV_TSAN_BUILD
#define CRV_SKIP_CHILD_PROCESS_UNDER_TSAN()                                                        \
    QSKIP("starts a child process, which ThreadSanitizer cannot follow through fork")
#else
#define CRV_SKIP_CHILD_PROCESS_UNDER_TSAN() static_cast<void>(0)
#endif
