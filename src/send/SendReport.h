#pragma once
// TSendReport: what happened to each recipient entry of one send, in list order, written
// and read as CSV (RFC 4180, UTF-8, header "entry,address,outcome,code,reply,transaction")
// so that a later send can go only to the entries not yet accepted.
//
// Failures: FromCsv and LoadFromFile raise Exception "Not a send report: %s" for text that
// is not such a CSV; the file routines raise the stream layer's file errors.
#include <set>
#include <string>
#include <string_view>
#include <vector>

// accepted: the server took the message for it; refused: a 5xx (or code-less) reply to
// RCPT TO; deferred: a 4xx that was not retried; not-tried: never asked for, or its
// transaction did not end with the message accepted.
enum class TSendOutcome { Accepted, Refused, Deferred, NotTried };

struct TSendRow {
    std::string Entry;  // as stored in the list
    std::string Reply;  // the last line of the RCPT TO reply, without the line end
    TSendOutcome Outcome = TSendOutcome::NotTried;
    int Code = 0;         // of that reply; 0 when none
    int Transaction = 0;  // 1 for the first of the conversation; 0 when none

    // As sent in RCPT TO: a part of Entry, so a long list does not hold it twice (the
    // address column of a report that was read is not kept).
    std::string_view Address() const;
};

class TSendReport {
public:
    std::vector<TSendRow>& Rows() { return FRows; }
    const std::vector<TSendRow>& Rows() const { return FRows; }
    int Count(TSendOutcome Outcome) const;
    // The entries shown as accepted, for resuming.
    std::set<std::string> AcceptedEntries() const;

    std::string ToCsv() const;
    static TSendReport FromCsv(const std::string& Text);
    void SaveToFile(const std::string& FileName) const;
    static TSendReport LoadFromFile(const std::string& FileName);

    static const char* OutcomeText(TSendOutcome Outcome);

private:
    std::vector<TSendRow> FRows;
};
