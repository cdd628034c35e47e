#pragma once
// A credential store in memory for the window tests, with a switch that makes it behave
// as when no keyring is running.
#include <map>
#include <string>

#include "app/CredentialStore.h"

class TMemoryCredentials : public TCredentialStore {
public:
    bool Available = true;  // false: nothing is found and nothing can be stored
    std::map<std::string, std::string> Stored;

    std::optional<std::string> Read(const std::string& Account) override
    {
        const auto found = Stored.find(Account);
        return Available && found != Stored.end() ? std::optional(found->second) : std::nullopt;
    }
    bool Write(const std::string& Account, const std::string& Secret) override
    {
        if (Available) Stored[Account] = Secret;
        return Available;
    }
    void Remove(const std::string& Account) override { Stored.erase(Account); }
};
