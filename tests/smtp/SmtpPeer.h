#pragma once
// A real SMTP server for tests: aiosmtpd on loopback (smtp_peer.py), started by the test
// and stopped with it, and Python's email package as an independent judge of what arrived.
#include <QJsonObject>
#include <QProcess>

#include <cstdint>
#include <string>
#include <vector>

#include "support/TempDir.h"

class TSmtpPeer {
public:
    // Recipients in Refuse are answered "550 5.1.1 No such user".
    explicit TSmtpPeer(const std::vector<std::string>& Refuse = {});
    ~TSmtpPeer();

    // 0 when the server could not be started (the test then fails on it).
    uint16_t Port() const { return FPort; }
    const std::string& StartError() const { return FError; }
    // Messages delivered so far, in order: the .eml paths.
    std::vector<std::string> Messages() const;
    // The envelope of message Index (from 1): {"mail_from", "rcpt_tos"}.
    QJsonObject Envelope(int Index) const;

private:
    TTempDir FDir;
    QProcess FProcess;
    uint16_t FPort = 0;
    std::string FError;
};

// Runs parse_message.py on a delivered message: {"header_block", "headers", "subject",
// "from", "multipart", "defects", "body", "attachments": [{"filename","size","sha256"}]}.
QJsonObject ParseDelivered(const std::string& EmlPath);

// SHA-256 of Data as lower-case hex, as parse_message.py reports it.
std::string Sha256Hex(const std::string& Data);
