#pragma once
// Where the window keeps a login's password between runs: the desktop's keyring in the
// program (KeychainStore.h), a map in tests. An account names one login on one server.
// Nothing here raises: a keyring that cannot be reached counts as one that holds nothing,
// and the window then asks for the password at each send.
#include <optional>
#include <string>

class TCredentialStore {
public:
    virtual ~TCredentialStore() = default;

    // The secret stored for Account; nullopt when there is none or no keyring answers.
    virtual std::optional<std::string> Read(const std::string& Account) = 0;
    // Stores Secret for Account; false when no keyring is available (nothing is stored).
    virtual bool Write(const std::string& Account, const std::string& Secret) = 0;
    // Forgets Account's secret, if any.
    virtual void Remove(const std::string& Account) = 0;
};
