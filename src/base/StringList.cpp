#include "StringList.h"

#include <algorithm>

#include "Exception.h"
#include "Stream.h"

namespace {

// Decodes one UTF-8 character at s[i] (advancing i) and folds it to lower case.
// Invalid bytes count as themselves, so any byte string still orders consistently.
char32_t NextFolded(const std::string& s, size_t& i)
{
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = c;
    size_t len = 1;
    if (c >= 0xC0 && c < 0xE0) {
        cp = c & 0x1F;
        len = 2;
    } else if (c >= 0xE0 && c < 0xF0) {
        cp = c & 0x0F;
        len = 3;
    } else if (c >= 0xF0 && c < 0xF8) {
        cp = c & 0x07;
        len = 4;
    }
    if (len > 1) {
        if (i + len > s.size()) {
            len = 1;
            cp = c;
        }
        for (size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                len = 1;
                cp = c;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
    }
    i += len;
    if (cp >= 'A' && cp <= 'Z') return cp + 32;
    if (cp >= 0x410 && cp <= 0x42F) return cp + 32;  // А..Я
    if (cp >= 0x400 && cp <= 0x40F) return cp + 80;  // Ѐ..Џ (Ё among them)
    return cp;
}

}  // namespace

int CompareText(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = NextFolded(a, i), y = NextFolded(b, j);
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool SameText(const std::string& a, const std::string& b) { return CompareText(a, b) == 0; }

namespace {
bool TextLess(const std::string& a, const std::string& b) { return CompareText(a, b) < 0; }
}  // namespace

// Stable, so lines that compare equal keep their order of arrival.
void TStringList::SortItems() { std::stable_sort(FItems.begin(), FItems.end(), TextLess); }

void TStringList::CheckIndex(int Index, bool AllowEnd) const
{
    if (Index < 0 || Index > Count() || (Index == Count() && !AllowEnd))
        throw EStringListError(Format("List index out of bounds (%d)", Index));
}

const std::string& TStringList::Strings(int Index) const
{
    CheckIndex(Index);
    return FItems[static_cast<size_t>(Index)];
}

void TStringList::Put(int Index, const std::string& S)
{
    if (FSorted) throw EStringListError("Operation not allowed on sorted string list");
    CheckIndex(Index);
    FItems[static_cast<size_t>(Index)] = S;
}

int TStringList::Add(const std::string& S)
{
    if (!FSorted) {
        FItems.push_back(S);
        return Count() - 1;
    }
    // After equal entries, so lines that compare equal keep their order of arrival.
    auto it = std::upper_bound(FItems.begin(), FItems.end(), S, TextLess);
    it = FItems.insert(it, S);
    return static_cast<int>(it - FItems.begin());
}

void TStringList::AddStrings(const TStringList& Other)
{
    if (!FSorted) {
        FItems.insert(FItems.end(), Other.FItems.begin(), Other.FItems.end());
        return;
    }
    for (const auto& s : Other.FItems) Add(s);
}

void TStringList::Insert(int Index, const std::string& S)
{
    if (FSorted) throw EStringListError("Operation not allowed on sorted string list");
    CheckIndex(Index, true);
    FItems.insert(FItems.begin() + Index, S);
}

void TStringList::Delete(int Index)
{
    CheckIndex(Index);
    FItems.erase(FItems.begin() + Index);
}

int TStringList::IndexOf(const std::string& S) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (SameText(FItems[i], S)) return static_cast<int>(i);
    return -1;
}

void TStringList::SetSorted(bool Value)
{
    if (Value && !FSorted) SortItems();
    FSorted = Value;
}

void TStringList::Assign(const TStringList& Other)
{
    if (&Other == this) return;
    FItems = Other.FItems;
    if (FSorted) SortItems();
}

void TStringList::SetText(const std::string& Text)
{
    FItems.clear();
    size_t start = Text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const size_t n = Text.size();
    // At most a line per line end and one after the last: room for all of them at once, as
    // a long list grown line by line copies itself over and touches twice its memory.
    FItems.reserve(std::count(Text.begin(), Text.end(), '\n') + std::count(Text.begin(), Text.end(), '\r') + 1);
    while (start < n) {
        size_t p = start;
        while (p < n && Text[p] != '\r' && Text[p] != '\n') ++p;
        FItems.emplace_back(Text, start, p - start);
        if (p < n && Text[p] == '\r') ++p;  // CR, or the CR of CR LF
        if (p < n && Text[p] == '\n') ++p;  // LF, or the LF of CR LF
        start = p;
    }
    if (FSorted) SortItems();
}

std::string TStringList::Text() const
{
    size_t total = 0;
    for (const auto& s : FItems) total += s.size() + 2;
    std::string out;
    out.reserve(total);
    for (const auto& s : FItems) {
        out += s;
        out += "\r\n";
    }
    return out;
}

void TStringList::LoadFromFile(const std::string& FileName) { SetText(ReadWholeFile(FileName)); }

void TStringList::SaveToFile(const std::string& FileName) const { SaveFileAtomically(FileName, Text()); }

void TStringList::LoadFromStream(TStream& Stream)
{
    const int64_t size = Stream.Size() - Stream.Position();
    std::string data(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
    Stream.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    SetText(data);
}

void TStringList::SaveToStream(TStream& Stream) const { Stream.WriteString(Text()); }
