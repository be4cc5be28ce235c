// Forced into every translation unit of the module (-include) where the build finds these
// symbol versions. glibc 2.29 gave exp, log and pow new symbol versions that only drop the
// errno wrapper of the old ones; both call the same implementation from glibc 2.28 on.
// Binding to the old versions keeps the module loadable on glibc 2.28 and older (RHEL 8 and
// its kin) instead of needing 2.29. Likewise glibc 2.34 moved the thread-specific keys from
// libpthread into libc under new versions, keeping the old ones. The old versions are each
// architecture's first glibc release: 2.2.5 on x86-64, 2.17 on aarch64.
#pragma once

#if defined(__x86_64__)
#define HYDROKIT_FIRST_GLIBC "GLIBC_2.2.5"
#elif defined(__aarch64__)
#define HYDROKIT_FIRST_GLIBC "GLIBC_2.17"
#endif

#if defined(HYDROKIT_FIRST_GLIBC)
__asm__(".symver exp,exp@" HYDROKIT_FIRST_GLIBC);
__asm__(".symver log,log@" HYDROKIT_FIRST_GLIBC);
__asm__(".symver pow,pow@" HYDROKIT_FIRST_GLIBC);
__asm__(".symver pthread_key_create,pthread_key_create@" HYDROKIT_FIRST_GLIBC);
__asm__(".symver pthread_getspecific,pthread_getspecific@" HYDROKIT_FIRST_GLIBC);
__asm__(".symver pthread_setspecific,pthread_setspecific@" HYDROKIT_FIRST_GLIBC);
#endif
