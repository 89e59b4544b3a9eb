// SPDX-License-Identifier: MIT
// Lock rules the compiler checks: clang's thread-safety analysis (-Wthread-safety, the
// OWCLIENT_THREAD_SAFETY build) proves that a member marked OWC_GUARDED_BY(m) is only
// touched with m held and that an OWC_REQUIRES(m) function is only called with it held.
// Other compilers see nothing.
#ifndef OWCLIENT_RUNTIME_THREAD_ANNOTATIONS_H
#define OWCLIENT_RUNTIME_THREAD_ANNOTATIONS_H

#if defined(__clang__)
#define OWC_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define OWC_THREAD_ANNOTATION(x)
#endif

#define OWC_CAPABILITY(name) OWC_THREAD_ANNOTATION(capability(name))
#define OWC_SCOPED_CAPABILITY OWC_THREAD_ANNOTATION(scoped_lockable)
#define OWC_GUARDED_BY(m) OWC_THREAD_ANNOTATION(guarded_by(m))
#define OWC_PT_GUARDED_BY(m) OWC_THREAD_ANNOTATION(pt_guarded_by(m))
#define OWC_REQUIRES(...) OWC_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define OWC_EXCLUDES(...) OWC_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define OWC_ACQUIRE(...) OWC_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define OWC_RELEASE(...) OWC_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define OWC_TRY_ACQUIRE(...) OWC_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define OWC_RETURN_CAPABILITY(x) OWC_THREAD_ANNOTATION(lock_returned(x))
// For the few functions whose locking the analysis cannot follow; say why beside it.
#define OWC_NO_THREAD_SAFETY_ANALYSIS OWC_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // OWCLIENT_RUNTIME_THREAD_ANNOTATIONS_H
