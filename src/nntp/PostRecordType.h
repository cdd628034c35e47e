#pragma once
// A view of an article's header lines: each property reads and writes the entry of that
// name in the viewed name/value list (an empty value removes the entry).
#include <string>

#include "base/Component.h"

class TExStringList;

class TPostRecordType : public TObject {
public:
    explicit TPostRecordType(TExStringList* List = nullptr) : FList(List) {}

    TExStringList* List() const { return FList; }
    void SetList(TExStringList* List) { FList = List; }

    std::string PrFromAddress() const { return Get("From"); }
    void SetPrFromAddress(const std::string& V) { Set("From", V); }
    std::string PrReplyTo() const { return Get("ReplyTo"); }
    void SetPrReplyTo(const std::string& V) { Set("ReplyTo", V); }
    std::string PrSubject() const { return Get("Subject"); }
    void SetPrSubject(const std::string& V) { Set("Subject", V); }
    std::string PrDistribution() const { return Get("Distribution"); }
    void SetPrDistribution(const std::string& V) { Set("Distribution", V); }
    std::string PrAppName() const { return Get("X-Newsreader"); }
    void SetPrAppName(const std::string& V) { Set("X-Newsreader", V); }
    std::string PrTimeDate() const { return Get("Date"); }
    void SetPrTimeDate(const std::string& V) { Set("Date", V); }
    std::string PrNewsGroups() const { return Get("Newsgroups"); }
    void SetPrNewsGroups(const std::string& V) { Set("Newsgroups", V); }
    // The "ArtID" entry as a number; 0 when absent or not a number.
    int PrArticleId() const;

private:
    std::string Get(const std::string& Name) const;
    void Set(const std::string& Name, const std::string& Value);

    TExStringList* FList;
};
