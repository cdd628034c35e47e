// The report a later run resumes from: any text is either refused as "Not a send report"
// or read into rows that are written and read back unchanged; and any rows written are
// read back as they were.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzCheck.h"
#include "base/Exception.h"
#include "send/SendReport.h"

namespace {

bool SameRows(const TSendReport& A, const TSendReport& B)
{
    if (A.Rows().size() != B.Rows().size()) return false;
    for (size_t i = 0; i < A.Rows().size(); ++i) {
        const TSendRow &a = A.Rows()[i], &b = B.Rows()[i];
        if (a.Entry != b.Entry || a.Address() != b.Address() || a.Outcome != b.Outcome || a.Code != b.Code ||
            a.Reply != b.Reply || a.Transaction != b.Transaction)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    FuzzedDataProvider in(Data, Size);
    if (in.ConsumeBool()) {
        const std::string text = in.ConsumeRemainingBytesAsString();
        TSendReport read;
        try {
            read = TSendReport::FromCsv(text);
        } catch (const Exception& e) {
            FUZZ_CHECK(e.Message().starts_with("Not a send report: "));
            return 0;
        }
        FUZZ_CHECK(SameRows(TSendReport::FromCsv(read.ToCsv()), read));
        return 0;
    }
    TSendReport written;
    while (in.remaining_bytes() > 0) {
        TSendRow row;
        row.Entry = in.ConsumeRandomLengthString(32);
        row.Outcome = static_cast<TSendOutcome>(in.ConsumeIntegralInRange(0, 3));
        row.Code = in.ConsumeIntegral<int>();
        row.Reply = in.ConsumeRandomLengthString(64);
        row.Transaction = in.ConsumeIntegral<int>();
        written.Rows().push_back(row);
    }
    FUZZ_CHECK(SameRows(TSendReport::FromCsv(written.ToCsv()), written));
    return 0;
}
