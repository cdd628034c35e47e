#pragma once
// The text of a message file as the memo shows it, in UTF-8: a byte-order mark at the
// start is dropped, and a file that is not valid UTF-8 is read as Windows-1251, the
// Cyrillic code page older message files were written in (saving writes UTF-8). Raises
// nothing.
#include <string>

std::string MessageFileText(const std::string& Bytes);
