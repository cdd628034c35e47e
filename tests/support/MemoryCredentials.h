#pragma once
// A credential store in memory for the window tests: what is stored, every call made,
// and a switch that makes it behave as when no keyring is running.
#include <map>
#include <string>
#include <vector>

#include "app/CredentialStore.h"

class TMemoryCredentials : public TCredentialStore {
public:
    bool Available = true;  // false: nothing is found and nothing can be stored
    std::map<std::string, std::string> Stored;
    std::vector<std::string> Calls;  // "read ACCOUNT", "write ACCOUNT", "remove ACCOUNT"

    std::optional<std::string> Read(const std::string& Account) override;
    bool Write(const std::string& Account, const std::string& Secret) override;
    void Remove(const std::string& Account) override;
};
