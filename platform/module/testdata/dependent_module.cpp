// A module that needs a library the loader cannot find.
extern "C" int skytestHidden();

extern "C" [[gnu::visibility("default")]] int SkyTestUsesHidden() {
    return skytestHidden();
}
