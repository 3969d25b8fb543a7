#ifndef ZORVEX_SPLIT_H
#define ZORVEX_SPLIT_H

#include <string>
#include <string_view>
#include <vector>

// Splits `text` at the matches of the ECMAScript regular expression `pattern`, as the regex token
// iterator does: the pieces before each match (empty ones included) and the rest after the last
// match when not empty. A text without a match, the empty text included, gives one piece. An
// invalid expression raises std::regex_error. A single literal character and "(\s+)", the
// patterns the listings are split at, are split by hand with the same result.
std::vector<std::string> SplitAtPattern(const std::string& text, const std::string& pattern);

// The hand splitting behind SplitAtPattern, into views of `text` (`pieces` is cleared first, so
// that one vector serves every line of a listing): at each occurrence of the literal `delimiter`,
// and at each run of what "(\s+)" matches.
void SplitAtCharacter(std::string_view text, char delimiter, std::vector<std::string_view>& pieces);
void SplitAtWhitespaceRuns(std::string_view text, std::vector<std::string_view>& pieces);

#endif  // ZORVEX_SPLIT_H
