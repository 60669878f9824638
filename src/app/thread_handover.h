// SPDX-License-Identifier: MIT
#pragma once

// Qt hands a posted event to the window's thread through its own queue and
// lock. Qt is not built for ThreadSanitizer, so that ordering is invisible
// to it and every text passed across would look like a race. These calls
// tell it about the ordering; they are empty in other builds.

#if defined(__SANITIZE_THREAD__)
#define LIREVO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LIREVO_TSAN 1
#endif
#endif

#ifdef LIREVO_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace lirevo {

#ifdef LIREVO_TSAN
// What this thread did before is seen by the thread that next calls receiveHandOver(token).
inline void sendHandOver(void* token) { __tsan_release(token); }
inline void receiveHandOver(void* token) { __tsan_acquire(token); }
#else
inline void sendHandOver(void*) {}
inline void receiveHandOver(void*) {}
#endif

}  // namespace lirevo
