// The app suite and the programs it runs use SDL's offscreen video driver, which loads the system
// GL driver. On some runs the leak check then finds a garbage dynamic thread-local block on the
// main thread and crashes reading it; thread-local memory is left out of the scan here instead
// (the engine keeps nothing there), and what SDL and the dynamic loader keep only through it is
// not a leak (and not worth a word on stderr, which the tests read).
extern "C" const char* __lsan_default_options() {
    return "use_tls=0:print_suppressions=0";
}

// The loader keeps its last error text per thread: a window surface made before any frame (for
// the view's edge) leaves the offscreen driver's failed library probe there.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libSDL2\n"
           "leak:_dlerror_run\n"
           "leak:_dl_map_object_deps\n"
           "leak:add_to_global_resize\n";
}
