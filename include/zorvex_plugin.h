/*
 * The C interface of the zorvex_app_check plug-in, for diagnostics hosts written in C or C++.
 *
 * A host loads libzorvex_checker.so, reads the interface version from get_api_version(), walks
 * the null-terminated list from get_check_list() and calls each descriptor's run function.
 *
 * Threads: every entry point may be called from any thread, also at the same time. Runs of the
 * check are serialised inside the library (one at a time per process; a second caller waits), and
 * each caller gets the report a lone call would get. A run starts each command as a child process
 * of its own and learns its status without relying on SIGCHLD, so a host may ignore or catch that
 * signal, and may take other signals (timers) at any time. Setting ROOT_IC_PATH, USER_IC_PATH,
 * DB_NAME or the environment while another thread runs the check is the host's own race.
 */
#ifndef ZORVEX_PLUGIN_H
#define ZORVEX_PLUGIN_H

#ifdef __cplusplus
extern "C" {
#endif

/* Marks every symbol that the shared library exports; everything else is hidden. */
#define ZORVEX_EXPORT __attribute__((visibility("default")))

/* Size of every text field of the descriptor, terminating NUL included. */
#define ZORVEX_TEXT_FIELD_SIZE 500

/*
 * One check, as the host sees it. The layout is shared with the host and fixed: 3512 bytes,
 * 8-byte aligned, fields in this order without gaps. Each text is NUL-terminated and zero-padded.
 */
struct check_descriptor {
  char check_name[ZORVEX_TEXT_FIELD_SIZE];        /* offset    0 */
  char check_kind[ZORVEX_TEXT_FIELD_SIZE];        /* offset  500 */
  char check_groups[ZORVEX_TEXT_FIELD_SIZE];      /* offset 1000: comma-separated, no blanks */
  char check_description[ZORVEX_TEXT_FIELD_SIZE]; /* offset 1500 */
  char check_parameters[ZORVEX_TEXT_FIELD_SIZE];  /* offset 2000: a JSON object text */
  char check_rights[ZORVEX_TEXT_FIELD_SIZE];      /* offset 2500 */
  int check_number;                               /* offset 3000 */
  char check_version[ZORVEX_TEXT_FIELD_SIZE];     /* offset 3004 */
  /* offset 3504: runs the check; the argument is ignored. Returns the report text, allocated
   * with C++ array new: the caller owns it and releases it with delete[] (see app_check). */
  char* (*run)(void*);
};

/* The library's one descriptor, "zorvex_app_check". */
ZORVEX_EXPORT extern struct check_descriptor app_check_struct;

/* The interface version buffer: empty until get_api_version() is first called. */
ZORVEX_EXPORT extern char api_version[ZORVEX_TEXT_FIELD_SIZE];

/* Writes the interface version "0.1" into api_version (once) and returns its address. */
ZORVEX_EXPORT char* get_api_version(void);

/* Returns the null-terminated list of the library's check descriptors (one entry). */
ZORVEX_EXPORT struct check_descriptor** get_check_list(void);

/*
 * Runs the check and returns the pretty-printed JSON report; the caller frees it with delete[].
 * Never throws. When memory runs out during the run, the report has the usual form and its
 * "Zorvex products" value is the text "The check ran out of memory."; when not even that report
 * can be allocated, the result is a null pointer.
 */
ZORVEX_EXPORT char* app_check(void* unused);

/*
 * The library also exports "main" for stand-alone use: it runs the check, prints the report and
 * a newline to standard output and returns the status code (0, 2 or 3). It returns 3, with one
 * line on standard error, when the report could not be written and flushed whole, and 3 when the
 * run ran out of memory (the report then says so). It is not declared here,
 * since a host has a main of its own; an executable without one, linked against the library,
 * runs it, and a host may look it up by name.
 */

/*
 * Where the installer's databases are searched, read at every run so that a host or a test can
 * point them elsewhere: the system-wide directory (default "/var/corva"), the per-user directory
 * appended to the user's home (default "/corva") and the database file name
 * (default "packagemanager.db").
 */
ZORVEX_EXPORT extern const char* ROOT_IC_PATH;
ZORVEX_EXPORT extern const char* USER_IC_PATH;
ZORVEX_EXPORT extern const char* DB_NAME;

#ifdef __cplusplus
}
#endif

#endif /* ZORVEX_PLUGIN_H */
