#pragma once
// TSendRequest: everything one send needs, filled by the window or by quillcast-send and
// carried out by TSendRun. It holds the one set of defaults both front ends start from;
// nothing here raises.
#include <set>
#include <string>
#include <vector>

#include "smtp/SubmissionOptions.h"

// Which header line names the recipients; Bcc names them nowhere.
enum class TRecipientMode { To, CarbonCopy, BlindCarbonCopy };

// The security and login fields (TSubmissionOptions) go to the SMTP client as they stand.
struct TSendRequest : TSubmissionOptions {
    static constexpr int DefaultPort = 25;
    static constexpr const char* DefaultUserID = "TmpStr";
    static constexpr int DefaultTimeOut = 5000;        // lookup and connect, ms
    static constexpr int DefaultReplyTimeOut = 60000;  // each reply, ms
    static constexpr const char* DefaultLocalProgram = "Created by Veskor";

    std::string Host;
    int Port = DefaultPort;
    std::string UserID = DefaultUserID;
    int TimeOut = DefaultTimeOut;
    int ReplyTimeOut = DefaultReplyTimeOut;

    std::string FromAddress, FromName, Subject;
    std::vector<std::string> Body;         // lines
    std::vector<std::string> Attachments;  // file paths
    std::string LocalProgram = DefaultLocalProgram;
    std::string Date;  // empty: the time the send starts

    // The list as stored; every entry appears in the report.
    std::vector<std::string> Recipients;
    TRecipientMode Mode = TRecipientMode::BlindCarbonCopy;
    // Entries an earlier run delivered to: reported as accepted, not sent again.
    std::set<std::string> AlreadyAccepted;

    int MaxRecipients = 0;  // per transaction; 0 = no limit
    int PauseMs = 0;        // between transactions
    // false: the first refused recipient ends the conversation (the window's way);
    // true: it is recorded and the others still get the message.
    bool SkipRefused = false;
};

// The port a security mode implies when the user names none: 465 for TLS, 587 for
// STARTTLS, else 25.
int DefaultPortFor(TSecurity Security);

// "'%s' is not a valid port number" unless Text is a decimal number from 1 to 65535; a
// text that is no number at all raises the runtime's conversion error.
int ParsePortNumber(const std::string& Text);
