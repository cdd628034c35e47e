#pragma once
// The credential store on the desktop's keyring (Secret Service or KWallet) through
// QtKeychain, under the service name "Quillcast". Never falls back to a plain-text file:
// with no keyring running, Read finds nothing and Write stores nothing and says so.
// Each call waits for the keyring's answer while processing events (the keyring may ask
// the user to unlock it); a keyring that does not answer within two minutes counts as
// unavailable. Raises nothing.
#include "CredentialStore.h"

class TKeychainStore : public TCredentialStore {
public:
    std::optional<std::string> Read(const std::string& Account) override;
    bool Write(const std::string& Account, const std::string& Secret) override;
    void Remove(const std::string& Account) override;
};
