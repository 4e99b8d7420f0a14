// The sanitizers' suppressions for test programs that run Qt. Qt is not built with the
// sanitizers: the hand-offs between its own worker threads (image conversion, drawing pools)
// are invisible to the thread sanitizer and show as races, and fontconfig keeps its caches to
// the end. Children get the same lists through LSAN_OPTIONS and TSAN_OPTIONS (tests/ui/*.supp).
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\nrace:libQt6Gui.so\nrace:libQt6Widgets.so\n";
}
