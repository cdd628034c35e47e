#include "send/SendReport.h"

#include <algorithm>

#include "base/Exception.h"
#include "base/Stream.h"
#include "smtp/SmtpClient.h"

namespace {

const char* const Header = "entry,address,outcome,code,reply,transaction";
constexpr TSendOutcome Outcomes[] = {TSendOutcome::Accepted, TSendOutcome::Refused, TSendOutcome::Deferred,
                                     TSendOutcome::NotTried};

std::string Field(std::string_view S)
{
    if (S.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(S);
    std::string Q = "\"";
    for (const char C : S) {
        if (C == '"') Q += '"';
        Q += C;
    }
    return Q + "\"";
}

// Splits RFC 4180 text into records of fields; quoted fields may hold commas, quotes and
// line ends. Returns false for a quote that is never closed or stray text after one.
bool ParseCsv(const std::string& Text, std::vector<std::vector<std::string>>& Records)
{
    std::vector<std::string> Record;
    std::string Cur;
    size_t i = 0;
    const size_t n = Text.size();
    bool FieldStarted = false;
    while (i < n) {
        const char C = Text[i];
        if (C == '"' && Cur.empty() && !FieldStarted) {
            size_t j = i + 1;
            for (;;) {
                if (j >= n) return false;
                if (Text[j] == '"') {
                    if (j + 1 < n && Text[j + 1] == '"') {
                        Cur += '"';
                        j += 2;
                        continue;
                    }
                    break;
                }
                Cur += Text[j++];
            }
            i = j + 1;
            FieldStarted = true;
            if (i < n && Text[i] != ',' && Text[i] != '\r' && Text[i] != '\n') return false;
            continue;
        }
        if (C == ',') {
            Record.push_back(Cur);
            Cur.clear();
            FieldStarted = false;
        } else if (C == '\r' || C == '\n') {
            Record.push_back(Cur);
            Records.push_back(Record);
            Record.clear();
            Cur.clear();
            FieldStarted = false;
            if (C == '\r' && i + 1 < n && Text[i + 1] == '\n') ++i;
        } else {
            Cur += C;
            FieldStarted = true;
        }
        ++i;
    }
    if (FieldStarted || !Record.empty()) {
        Record.push_back(Cur);
        Records.push_back(Record);
    }
    return true;
}

}  // namespace

const char* TSendReport::OutcomeText(TSendOutcome Outcome)
{
    switch (Outcome) {
    case TSendOutcome::Accepted: return "accepted";
    case TSendOutcome::Refused: return "refused";
    case TSendOutcome::Deferred: return "deferred";
    case TSendOutcome::NotTried: break;
    }
    return "not-tried";
}

int TSendReport::Count(TSendOutcome Outcome) const
{
    return static_cast<int>(
        std::count_if(FRows.begin(), FRows.end(), [Outcome](const TSendRow& R) { return R.Outcome == Outcome; }));
}

std::set<std::string> TSendReport::AcceptedEntries() const
{
    std::set<std::string> Entries;
    for (const TSendRow& R : FRows)
        if (R.Outcome == TSendOutcome::Accepted) Entries.insert(R.Entry);
    return Entries;
}

std::string_view TSendRow::Address() const { return TSmtpClient::ExtractAddress(Entry); }

std::string TSendReport::ToCsv() const
{
    std::string Csv = std::string(Header) + "\r\n";
    for (const TSendRow& R : FRows)
        Csv += Field(R.Entry) + "," + Field(R.Address()) + "," + OutcomeText(R.Outcome) + "," + std::to_string(R.Code) +
               "," + Field(R.Reply) + "," + std::to_string(R.Transaction) + "\r\n";
    return Csv;
}

TSendReport TSendReport::FromCsv(const std::string& Text)
{
    std::vector<std::vector<std::string>> Records;
    std::string Body = Text;
    if (Body.starts_with("\xEF\xBB\xBF")) Body.erase(0, 3);
    if (!ParseCsv(Body, Records) || Records.empty() || Records[0].size() != 6 ||
        Records[0] != std::vector<std::string>{"entry", "address", "outcome", "code", "reply", "transaction"})
        throw Exception("Not a send report: the first line must be " + std::string(Header));
    TSendReport Report;
    for (size_t i = 1; i < Records.size(); ++i) {
        const std::vector<std::string>& F = Records[i];
        const std::string Where = "line " + std::to_string(i + 1);
        if (F.size() != 6) throw Exception("Not a send report: " + Where + " does not have six fields");
        TSendRow Row;
        Row.Entry = F[0];
        const auto* Known = std::find_if(std::begin(Outcomes), std::end(Outcomes),
                                         [&](TSendOutcome O) { return F[2] == OutcomeText(O); });
        if (Known == std::end(Outcomes))
            throw Exception("Not a send report: " + Where + " has the outcome '" + F[2] + "'");
        Row.Outcome = *Known;
        try {
            Row.Code = StrToInt(F[3]);
            Row.Transaction = StrToInt(F[5]);
        } catch (const Exception&) {
            throw Exception("Not a send report: " + Where + " has a code or transaction that is not a number");
        }
        Row.Reply = F[4];
        Report.FRows.push_back(std::move(Row));
    }
    return Report;
}

void TSendReport::SaveToFile(const std::string& FileName) const { SaveFileAtomically(FileName, ToCsv()); }

TSendReport TSendReport::LoadFromFile(const std::string& FileName) { return FromCsv(ReadWholeFile(FileName)); }
