// The name/value list under any lines and any sequence of look-ups and changes: a name
// that is found belongs to that line, a value set is the value read back, and an empty
// value removes the line.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzCheck.h"
#include "base/Exception.h"
#include "mime/ExStringList.h"

namespace {

std::string NameOf(const std::string& Line) { return Line.substr(0, Line.find(':')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    FuzzedDataProvider in(Data, Size);
    TExStringList list;
    list.SetSorted(in.ConsumeBool());
    list.SetText(in.ConsumeRandomLengthString(512));
    while (in.remaining_bytes() > 0) {
        const std::string name = in.ConsumeRandomLengthString(16);
        const int at = list.IndexOfName(name);
        FUZZ_CHECK(at >= -1 && at < list.Count());
        if (at >= 0 && list[at].find(':') == std::string::npos) {
            // A sorted list gives a line without a colon the empty name.
            FUZZ_CHECK(list.Sorted() && name.empty() && list.GetValue(name).empty());
        } else if (at >= 0) {
            FUZZ_CHECK(SameText(NameOf(list[at]), name));
            FUZZ_CHECK(list.GetValue(name) == list[at].substr(list[at].find(':') + 1));
        } else {
            FUZZ_CHECK(list.GetValue(name).empty());
        }
        if (!in.ConsumeBool()) continue;

        const std::string value = in.ConsumeRandomLengthString(16);
        const int count = list.Count();
        try {
            list.SetValue(name, value);
        } catch (const EStringListError&) {
            // Only a sorted list refuses, and only the replacement of a line.
            FUZZ_CHECK(list.Sorted() && !value.empty());
            continue;
        }
        if (value.empty()) {
            FUZZ_CHECK(list.Count() == count - (at >= 0 ? 1 : 0));
        } else if (name.find(':') == std::string::npos && !list.Sorted()) {
            FUZZ_CHECK(list.GetValue(name) == " " + value);
        }
    }
    return 0;
}
