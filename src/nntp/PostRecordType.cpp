#include "nntp/PostRecordType.h"

#include "base/Exception.h"
#include "mime/ExStringList.h"

std::string TPostRecordType::Get(const std::string& Name) const
{
    if (!FList) return {};
    std::string v = FList->GetValue(Name);
    // Entries are written "Name: value"; the blank belongs to the form, not the value.
    if (!v.empty() && v[0] == ' ') v.erase(0, 1);
    return v;
}

void TPostRecordType::Set(const std::string& Name, const std::string& Value)
{
    if (FList) FList->SetValue(Name, Value);
}

int TPostRecordType::PrArticleId() const
{
    try {
        return StrToInt(Get("ArtID"));
    } catch (const EConvertError&) {
        return 0;
    }
}
