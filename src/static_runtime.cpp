// Only for a module that carries libstdc++ inside it (HYDROKIT_STATIC_CXX_RUNTIME).
//
// libstdc++ built against glibc 2.32 or newer asks glibc's __libc_single_threaded whether it
// may skip atomic operations (reference counts, static-local guards). Defining the flag here,
// hidden and always 0, binds those reads to it instead of to glibc's, so the module does not
// need glibc 2.32; 0 only means "use the atomic operations", which is always correct.
#if defined(HYDROKIT_STATIC_CXX_RUNTIME) && defined(__linux__)
extern "C" {
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
}
#endif
