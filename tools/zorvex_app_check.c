/* The stand-alone check: this program has no main of its own, so the linker takes the one that
 * libzorvex_checker exports, which prints the report and returns its status code. */
typedef int zorvex_app_check_uses_the_library_main;
