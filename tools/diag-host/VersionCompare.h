#ifndef DIAG_HOST_VERSION_COMPARE_H
#define DIAG_HOST_VERSION_COMPARE_H

#include <optional>
#include <string>

// Version order as each package manager defines it. Every comparison answers a negative number,
// 0 or a positive number as `a` is older than, equal to or newer than `b`, or nothing when the
// package manager itself refuses one of the texts.

// Debian's order ([epoch:]upstream[-revision]; "~" sorts before everything, even the end; letters
// before other characters; digit runs by value); the empty text, no version, comes before all.
// Nothing for a text dpkg rejects: only blanks, blanks inside, an epoch that is empty, negative,
// not a number or too big, nothing after the epoch's colon, an empty upstream part or an empty
// revision. Leading and trailing blanks are ignored; texts dpkg only warns about (no leading digit,
// odd characters) are compared.
std::optional<int> CompareDpkgVersions(const std::string& a, const std::string& b);

// rpm's order of [epoch:]version[-release]: epochs by value, then version and release by
// rpmvercmp (alphanumeric runs compared piecewise, digits by value and above letters, "~" before
// everything, "^" after the end but before more). A release beats none. Nothing for an empty text.
std::optional<int> CompareRpmVersions(const std::string& a, const std::string& b);

// The comparison the product's source uses: rpm's for "rpm", Debian's for "dpkg" and "installer".
std::optional<int> CompareVersions(const std::string& source, const std::string& a,
                                   const std::string& b);

// Whether `version` can be compared under the order of `source` ("" means any source).
bool ComparableVersion(const std::string& source, const std::string& version);

#endif  // DIAG_HOST_VERSION_COMPARE_H
