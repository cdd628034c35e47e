#pragma once
// The program's persistent settings: one key holding named text values, kept in an INI
// file at the user's configuration location (or in the file that the environment
// variable QUILLCAST_SETTINGS names). The key path is given in the registry's form,
// "Software\Company\Product\Version": the company and product choose the file, the rest
// the group inside it.
#include <memory>
#include <string>

#include "base/Exception.h"

class QSettings;

// "Invalid data type for '%s'", "Failed to set data for '%s'"
class ESettingsError : public Exception {
    using Exception::Exception;
};

class TSettingsStore {
public:
    TSettingsStore();
    ~TSettingsStore();
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;

    // Opens the key, creating it when CanCreate; false when it can be neither read nor
    // created (every value then counts as absent).
    bool OpenKey(const std::string& Key, bool CanCreate);
    void CloseKey();
    bool KeyOpen() const { return FSettings != nullptr; }

    bool ValueExists(const std::string& Name) const;
    // The text value; "" when absent. A value that is not text raises ESettingsError.
    std::string ReadString(const std::string& Name) const;
    // Written through to the file at once, so a failure names the value that failed.
    void WriteString(const std::string& Name, const std::string& Value);

    // The file that holds the settings of the given key.
    static std::string FileNameFor(const std::string& Key);

private:
    std::unique_ptr<QSettings> FSettings;
};
