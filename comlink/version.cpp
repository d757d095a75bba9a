// Keeps the library non-empty whichever port backends a build includes.
extern const char comlinkVersion[] = "1.0";
