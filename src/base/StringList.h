#pragma once
// An ordered list of 8-bit (UTF-8) text lines. In sorted mode every insertion lands in
// its place, compared without regard to case (CompareText); duplicates are kept.
#include <string>
#include <utility>
#include <vector>

#include "Component.h"

class TStream;

// Case-insensitive comparison: ASCII and Cyrillic letters fold to lower case, other
// characters compare by code point. <0, 0, >0 like strcmp.
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);

class TStringList : public TObject {
public:
    TStringList() = default;
    TStringList(const TStringList& other) = default;
    TStringList& operator=(const TStringList& other) = default;

    int Count() const { return static_cast<int>(FItems.size()); }
    // Indexed access raises EStringListError "List index out of bounds (%d)".
    const std::string& Strings(int Index) const;
    const std::string& operator[](int Index) const { return Strings(Index); }
    // Replacing a line of a sorted list raises "Operation not allowed on sorted string list".
    void Put(int Index, const std::string& S);

    int Add(const std::string& S);  // returns the index the line landed at
    void AddStrings(const TStringList& Other);
    void Insert(int Index, const std::string& S);
    void Delete(int Index);
    void Clear() { FItems.clear(); }
    // Takes Other's lines; a sorted list sorts them.
    void Assign(const TStringList& Other);
    int IndexOf(const std::string& S) const;  // case-insensitive, as the list compares
    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    const std::vector<std::string>& Items() const { return FItems; }
    // Hands the lines over and leaves the list empty: a long list is not copied.
    std::vector<std::string> TakeItems() { return std::exchange(FItems, {}); }

    // Lines end at CR LF, LF or CR; a last line without a line end counts. Replaces the
    // content; a sorted list is sorted once after loading. A UTF-8 byte-order mark at the
    // start (Windows tools write one) is not part of the first line.
    void SetText(const std::string& Text);
    // Every line followed by CR LF.
    std::string Text() const;
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;  // temporary file, then rename
    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream) const;

protected:
    void CheckIndex(int Index, bool AllowEnd = false) const;
    void SortItems();
    std::vector<std::string> FItems;
    bool FSorted = false;
};
