/* A minimal host for the whole-run comparison: loads the plug-in, points its system-wide
 * installer directory at the benchmark data and runs the library's own stand-alone main, which
 * prints the report and returns the status code. */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s LIBRARY INSTALLER_ROOT\n", argv[0]);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  const char** root = (const char**)dlsym(library, "ROOT_IC_PATH");
  int (*library_main)(void) = (int (*)(void))dlsym(library, "main");
  if (root == NULL || library_main == NULL) {
    fprintf(stderr, "%s lacks ROOT_IC_PATH or main\n", argv[1]);
    return 2;
  }
  *root = argv[2];
  return library_main();
}
