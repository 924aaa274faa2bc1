// Matching of a configuration item against the running software. For the key "sdkver" the
// required value is an exact version or a strict bound (">" or "<" followed by a version); for
// every other key the values must be equal. Versions compare by their first four numeric
// components.
#ifndef KOVA_SDK_VERSION_H
#define KOVA_SDK_VERSION_H

#include <string>
#include <vector>

// Whether the item (infoItemKey, infoItemValue) applies to the actual value infoValue. Writes its
// log lines on every call and never throws.
bool isMatchConfigItem(const std::string& infoItemKey, const std::string& infoValue, const std::string& infoItemValue);

// 0 when the texts are identical; otherwise 1 when a is newer than b and -1 when it is older, by
// components 1 to 4 (0 when both are numerically equal but written differently).
int compareVersion(const std::string& a, const std::string& b);

// The non-empty pieces of text between any of the delimiter characters.
std::vector<std::string> splitString(const std::string& text, const std::string& delimiters);

// Replaces every occurrence of search, searching again from the start after each replacement, so
// that an occurrence formed by a removal is removed too. That repetition is done only when the
// replacement is shorter than search (the text shrinks each time, so it ends); otherwise, and for
// an empty search, one left-to-right pass is made, since repeating could grow the text forever.
std::string replaceAll(const std::string& text, const std::string& search, const std::string& replacement);

#endif  // KOVA_SDK_VERSION_H
