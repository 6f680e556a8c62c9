// Defaults of the sanitizer runtime, linked into every program and library of a sanitizer build.
//
// intercept_tls_get_addr=0: the runtime of g++ 12 (libasan8) takes any dynamic TLS block that starts 16
// bytes into a page for one laid out by glibc 2.19, and reads the 16 bytes before it (here the
// allocator's chunk header) as the block's start and size. At exit the leak checker scans that range
// and its tracer dies ("Tracer caught signal 11", exit 1), whatever the program did. Only libraries
// loaded with dlopen have such blocks (the authoring tool's extension with Qt, the result library);
// where a block lands depends only on the allocations before it, so a run either always dies or never
// does until unrelated code changes. Off, the leak checker leaves those blocks unscanned.
// An environment's LSAN_OPTIONS or ASAN_OPTIONS still override this.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_options() {
    return "intercept_tls_get_addr=0";
}
