// LeakSanitizer's suppressions for the window tests: fontconfig keeps caches for the life of the
// process that Qt's font database asks it to build; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
