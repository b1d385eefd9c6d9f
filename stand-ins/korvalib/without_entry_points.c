/* A real shared library named KorvaLib.dll that exports neither entry point:
 * what a program finds when an incompatible library sits in its folder. */
__attribute__((visibility("default"))) int KorvaLibIncompatible(void) {
  return 1;
}
