// Attributes that let clang's thread-safety analysis (-Wthread-safety) check, at compile time,
// that a field shared between threads is only touched with its mutex held, and that a function
// that needs a mutex is only called with it held. Other compilers see nothing. The threads
// themselves and who owns what are described in docs/threads.md.
#pragma once

#if defined(__clang__)
#define ZGL_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define ZGL_THREAD_ATTRIBUTE(x)
#endif

// A type whose objects are locks (a mutex).
#define CAPABILITY(name) ZGL_THREAD_ATTRIBUTE(capability(name))
// An object that holds a lock from its construction to its destruction.
#define SCOPED_CAPABILITY ZGL_THREAD_ATTRIBUTE(scoped_lockable)

// The field is read and written only with the lock held.
#define GUARDED_BY(lock) ZGL_THREAD_ATTRIBUTE(guarded_by(lock))
// What the pointer points to is read and written only with the lock held.
#define PT_GUARDED_BY(lock) ZGL_THREAD_ATTRIBUTE(pt_guarded_by(lock))

// The caller must hold the locks, and still holds them afterwards.
#define REQUIRES(...) ZGL_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
// The caller must not hold the locks (the function takes them itself).
#define EXCLUDES(...) ZGL_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))

// The function takes the locks (this object's lock when none is named) and returns holding
// them; RELEASE lets them go.
#define ACQUIRE(...) ZGL_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZGL_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))

// The function is not analysed: for code whose safety rests on something the analysis cannot
// see, which its comment must then state.
#define NO_THREAD_SAFETY_ANALYSIS ZGL_THREAD_ATTRIBUTE(no_thread_safety_analysis)
