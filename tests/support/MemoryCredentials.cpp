#include "MemoryCredentials.h"

std::optional<std::string> TMemoryCredentials::Read(const std::string& Account)
{
    Calls.push_back("read " + Account);
    const auto found = Stored.find(Account);
    if (!Available || found == Stored.end()) return std::nullopt;
    return found->second;
}

bool TMemoryCredentials::Write(const std::string& Account, const std::string& Secret)
{
    Calls.push_back("write " + Account);
    if (Available) Stored[Account] = Secret;
    return Available;
}

void TMemoryCredentials::Remove(const std::string& Account)
{
    Calls.push_back("remove " + Account);
    if (Available) Stored.erase(Account);
}
