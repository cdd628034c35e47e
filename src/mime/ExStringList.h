#pragma once
// A string list with name/value access in the style of mail header lines: the name of a
// line is the text before its first ':'; names compare without regard to case.
#include <string>

#include "base/StringList.h"

class TExStringList : public TStringList {
public:
    // Index of the first line with that name, or -1. Unsorted lists skip lines without a
    // colon; sorted lists are searched by bisection (a line without a colon has the empty name).
    int IndexOfName(const std::string& Name) const;
    // The text after the named line's colon (the blank after it included), or "".
    std::string GetValue(const std::string& Name) const;
    // Non-empty Value: replaces the named line (or appends one) with Name + ": " + Value.
    // Empty Value: deletes the named line if there is one. Replacing a line of a sorted
    // list raises EStringListError.
    void SetValue(const std::string& Name, const std::string& Value);
};
