// A module that carries the test library as its "TYPELIB" resources 1 and 2.
extern "C" int farmletModuleVersion() {
    return 1;
}
