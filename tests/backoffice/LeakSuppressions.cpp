// LeakSanitizer's suppressions for this test program, read when the sanitizer starts (builds
// without it never call this). Fontconfig keeps what it allocates while parsing its configuration
// until FcFini, which Qt never calls: every widget test that draws text reports it once Qt has
// loaded its fonts (QFontconfigDatabase::populateFontDatabase, FcInitLoadConfigAndFonts).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
