// A module that needs a function no module defines: the loader refuses it.
extern "C" int skytestNobodyDefinesThis(int);

extern "C" [[gnu::visibility("default")]] int SkyTestCallsMissing(int a) {
    return skytestNobodyDefinesThis(a) + 1;
}
