#pragma once
// ThreadSanitizer cannot see the ordering that Qt's own (uninstrumented) locks give a blocking
// queued call, a posted call or a thread's end. Under it, these macros state that ordering at the
// few places where threads hand work to each other, so that what it reports are real races; in
// every other build they are empty.
#if defined(__SANITIZE_THREAD__)
extern "C" {
void __tsan_acquire(void *addr);
void __tsan_release(void *addr);
void AnnotateIgnoreReadsBegin(const char *file, int line);
void AnnotateIgnoreReadsEnd(const char *file, int line);
void AnnotateIgnoreWritesBegin(const char *file, int line);
void AnnotateIgnoreWritesEnd(const char *file, int line);
}
// What one thread did before RELEASE(p) is seen by another after its ACQUIRE(p).
#define KORVI_HANDOFF_RELEASE(p) __tsan_release(const_cast<void *>(static_cast<const void *>(p)))
#define KORVI_HANDOFF_ACQUIRE(p) __tsan_acquire(const_cast<void *>(static_cast<const void *>(p)))
// Around posting a call: Qt copies it into memory that the receiving thread reads before any of
// our code runs there, ordered by Qt's queue lock; the posting thread's accesses are not ours.
#define KORVI_QT_POST_BEGIN()                                                                                \
    AnnotateIgnoreReadsBegin(__FILE__, __LINE__);                                                            \
    AnnotateIgnoreWritesBegin(__FILE__, __LINE__)
#define KORVI_QT_POST_END()                                                                                  \
    AnnotateIgnoreWritesEnd(__FILE__, __LINE__);                                                             \
    AnnotateIgnoreReadsEnd(__FILE__, __LINE__)
#else
#define KORVI_HANDOFF_RELEASE(p) ((void)0)
#define KORVI_HANDOFF_ACQUIRE(p) ((void)0)
#define KORVI_QT_POST_BEGIN() ((void)0)
#define KORVI_QT_POST_END() ((void)0)
#endif
