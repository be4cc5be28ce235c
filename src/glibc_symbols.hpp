// Forced into every translation unit of the module (-include) where the build finds these
// symbol versions. glibc 2.29 gave exp, log and pow new symbol versions that only drop the
// errno wrapper of the old ones; both call the same implementation from glibc 2.28 on.
// Binding to the old versions keeps the module loadable on glibc 2.28 and older (RHEL 8 and
// its kin) instead of needing 2.29.
#pragma once

#if defined(__x86_64__)
__asm__(".symver exp,exp@GLIBC_2.2.5");
__asm__(".symver log,log@GLIBC_2.2.5");
__asm__(".symver pow,pow@GLIBC_2.2.5");
#endif
