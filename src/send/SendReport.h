#pragma once
// TSendReport: what happened to each recipient entry of one send, in list order, written
// and read as CSV (RFC 4180, UTF-8, header "entry,address,outcome,code,reply,transaction")
// so that a later send can go only to the entries not yet accepted.
//
// Failures: FromCsv and LoadFromFile raise Exception "Not a send report: %s" for text that
// is not such a CSV; the file routines raise the stream layer's file errors.
#include <set>
#include <string>
#include <vector>

// accepted: the server took the message for it; refused: a 5xx (or code-less) reply to
// RCPT TO; deferred: a 4xx that was not retried; not-tried: never asked for, or its
// transaction did not end with the message accepted.
enum class TSendOutcome { Accepted, Refused, Deferred, NotTried };

struct TSendRow {
    std::string Entry;    // as stored in the list
    std::string Address;  // as sent in RCPT TO
    TSendOutcome Outcome = TSendOutcome::NotTried;
    int Code = 0;         // of the RCPT TO reply; 0 when none
    std::string Reply;    // its last line, without the line end
    int Transaction = 0;  // 1 for the first of the conversation; 0 when none
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
