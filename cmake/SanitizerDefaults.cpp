// Default options of the sanitizer runtimes, compiled into every program of a sanitizer build, so
// that a test run alone (`ctest -R NAME`, a test program started by hand, or the engine service
// started by a test's private bus) behaves exactly as the whole suite does.
extern "C" {

const char* __asan_default_options() { return "detect_leaks=1:abort_on_error=0:halt_on_error=1"; }

const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

// One-time allocations of the platform libraries (type registries, plugin caches, thread pools)
// that live until the process ends.
const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgstreamer-1.0.so\n"
           "leak:libgstbase-1.0.so\n"
           "leak:libgstaudio-1.0.so\n"
           "leak:libgstpbutils-1.0.so\n"
           "leak:libdbus-1.so\n"
           "leak:libgstcoreelements.so\n"
           "leak:libmpg123.so\n"
           "leak:libdl.so\n"
           "leak:dlopen\n";
}

const char* __lsan_default_options() { return "print_suppressions=0"; }
}
