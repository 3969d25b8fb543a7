#ifndef DIAG_HOST_STANDARD_OUTPUT_H
#define DIAG_HOST_STANDARD_OUTPUT_H

// A report that never reaches its reader must not end in status 0, nor kill the host unseen.

// Ignores SIGPIPE, so that writing into a closed pipe fails like any other write instead of
// ending the host without a word. (The library's children get the default back.)
void PrepareStandardOutput();

// Flushes standard output. Returns `status` when everything written arrived; otherwise says so on
// standard error and returns at least kCannotWrite.
int FinishStandardOutput(int status);

#endif  // DIAG_HOST_STANDARD_OUTPUT_H
