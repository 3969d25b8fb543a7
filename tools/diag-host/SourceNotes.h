#ifndef DIAG_HOST_SOURCE_NOTES_H
#define DIAG_HOST_SOURCE_NOTES_H

#include <string>

#include "ProductList.h"

// For --format text, when the report explains itself in the check's own terse texts (it found
// nothing, or a source failed): a "Sources" block, one line per source with what it did, and
// below it each of its texts with what it means for an administrator. Empty when the report
// carries no such text.
std::string SourceNotes(const ProductList& list);

#endif  // DIAG_HOST_SOURCE_NOTES_H
