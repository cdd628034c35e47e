#pragma once
// A real SMTP server for tests: aiosmtpd on loopback (smtp_peer.py), started by the test
// and stopped with it, with Python's email package as an independent judge of what arrived.
#include <QJsonObject>
#include <QProcess>

#include <cstdint>
#include <string>
#include <vector>

#include "support/TempDir.h"

class TSmtpPeer {
public:
    // Recipients in Refuse are answered "550 5.1.1 No such user"; past MaxRecipients in one
    // transaction (0 = no limit) the answer is "452 4.5.3 Too many recipients".
    explicit TSmtpPeer(const std::vector<std::string>& Refuse = {}, int MaxRecipients = 0);
    ~TSmtpPeer();

    // 0 when the server could not be started (the test then fails on it).
    uint16_t Port() const { return FPort; }
    const std::string& StartError() const { return FError; }
    // The messages delivered so far, in order, as files for ParseDelivered.
    std::vector<std::string> Messages() const;

private:
    TTempDir FDir;
    QProcess FProcess;
    uint16_t FPort = 0;
    std::string FError;
};

// A delivered message as smtp_peer.py took it apart: "mail_from", "rcpt_tos",
// "header_block", "headers" [[name, value]], "subject", "from", "multipart", "defects",
// "date_valid", "body", "attachments" [{"filename", "size", "sha256", "defects"}],
// "raw_sha256" (of the message as received), "connection" (1 for the first session).
QJsonObject ParseDelivered(const std::string& Message);
std::string JsonText(const QJsonValue& V);
// The value of the first header Name of a taken-apart message; "" without one.
std::string HeaderValue(const QJsonObject& Message, const std::string& Name);
std::vector<std::string> Strings(const QJsonValue& Array);
std::string Sha256Hex(const std::string& Data);
