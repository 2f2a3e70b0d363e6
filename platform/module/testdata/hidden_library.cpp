// A library that lies where the loader does not look.
extern "C" [[gnu::visibility("default")]] int skytestHidden() {
    return 7;
}
