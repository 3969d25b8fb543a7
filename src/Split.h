#ifndef ZORVEX_SPLIT_H
#define ZORVEX_SPLIT_H

#include <string>
#include <vector>

// Splits `text` at the matches of the ECMAScript regular expression `pattern`, as the regex token
// iterator does: the pieces before each match (empty ones included) and the rest after the last
// match when not empty. A text without a match, the empty text included, gives one piece. An
// invalid expression raises std::regex_error. A single literal character and "(\s+)", the
// patterns the listings are split at, are split by hand with the same result.
std::vector<std::string> SplitAtPattern(const std::string& text, const std::string& pattern);

#endif  // ZORVEX_SPLIT_H
