#include "ExStringList.h"

namespace {

// The name of a line, or false when it has no colon.
bool NameOf(const std::string& Line, std::string& Name)
{
    const size_t colon = Line.find(':');
    if (colon == std::string::npos) return false;
    Name.assign(Line, 0, colon);
    return true;
}

}  // namespace

int TExStringList::IndexOfName(const std::string& Name) const
{
    std::string lineName;
    if (!Sorted()) {
        for (int i = 0; i < Count(); ++i)
            if (NameOf(FItems[static_cast<size_t>(i)], lineName) && SameText(lineName, Name)) return i;
        return -1;
    }
    int lo = 0, hi = Count() - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        if (!NameOf(FItems[static_cast<size_t>(mid)], lineName)) lineName.clear();
        const int c = CompareText(lineName, Name);
        if (c == 0) return mid;
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

std::string TExStringList::GetValue(const std::string& Name) const
{
    const int i = IndexOfName(Name);
    if (i < 0) return {};
    const std::string& line = FItems[static_cast<size_t>(i)];
    // Skip by the stored name's length: a case-folded match may differ in byte length.
    const size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(colon + 1);
}

void TExStringList::SetValue(const std::string& Name, const std::string& Value)
{
    const int i = IndexOfName(Name);
    if (!Value.empty()) {
        std::string line = Name + ": " + Value;
        if (i < 0) {
            Add(std::move(line));
        } else if (Sorted()) {
            // A sorted list refuses Put (it would break the order): delete and add instead.
            Delete(i);
            Add(std::move(line));
        } else {
            Put(i, std::move(line));
        }
    } else if (i >= 0) {
        Delete(i);
    }
}
