#pragma once
// The two interface languages and every text that depends on them, as data: the caption
// table of the main window (control name → English, Russian) and the few other texts.
#include <cstddef>
#include <string>

#include "send/SendReport.h"

enum TLanguage { lgEnglish = 0, lgRussian = 1 };

struct TCaptionEntry {
    const char* Control;  // object name of the control, menu entry or selector item
    const char* Text[2];  // indexed by TLanguage
};

// Selector items are named "ComboBox1.0" and "ComboBox1.1".
extern const TCaptionEntry CaptionTable[];
extern const std::size_t CaptionTableSize;

// clang-format off
enum TLangText {
    ltTotal,            // count label, before the number
    ltAddresses,        // count label, after the number
    ltConnecting,
    ltConnected,
    ltStarting,
    ltSentSuccessfully,
    ltAreYouSure,
    ltEndProgram,
    ltRecipientOf,      // progress bar of a list in several transactions: N, M
    ltDeliveryTitle,    // the "Connection and delivery" dialog and its fields
    ltMaxRecipients,
    ltPauseMs,
    ltSkipRefused,
    ltDeliveryGroup,    // its connection and login fields
    ltConnectionGroup,
    ltSecurity,
    ltSecurityNone,
    ltAuthUser,
    ltPassword,
    ltRemember,
    ltAuthMethod,
    ltAuthAuto,
    ltCAFile,
    ltFingerprint,
    ltExtendedSmtp,
    ltAllowPlaintext,
    ltTestConnection,
    ltBrowse,
    ltPasswordTitle,    // the password prompt of a send: caption, prompt (login, host)
    ltPasswordPrompt,
    ltServerOffers,     // before the lines of Test connection's answer
    ltNoKeyring,        // Remember with no keyring running
    ltResultsTitle,     // the results dialog, its columns and its buttons
    ltEntry,
    ltOutcome,
    ltServerReply,
    ltSaveReport,
    ltKeepOnly,
    ltClose,
    ltStop,             // the progress window's button
    ltWaitingGreeting,  // progress phases beside the described texts
    ltRecipientsSent,   // N, M
    ltBytesSent,        // N, M
    ltWaitingAnswer,
    ltMayHaveMessage,   // under the cancel error when Stop came after the whole message
    ltReplaceList,      // Open over a list with unsaved changes
    ltAccepted,         // outcomes in the results dialog
    ltRefused,
    ltDeferred,
    ltNotTried,
    ltCount_
};
// clang-format on

const char* LangText(TLangText Text, TLanguage Language);
// The address count label: "Total 5 addresses" in English whatever the number; in Russian
// the noun takes the form the number asks for (1 адрес, 2 адреса, 5 адресов, 21 адрес).
std::string AddressCountText(long long Count, TLanguage Language);
// A send outcome as the results dialog shows it.
const char* OutcomeText(TSendOutcome Outcome, TLanguage Language);
// The caption table's text for Control; nullptr when the control is not in the table.
const char* Caption(const char* Control, TLanguage Language);
