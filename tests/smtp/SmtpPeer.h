#pragma once
// Real SMTP servers for tests: aiosmtpd on loopback, started by the test and stopped with
// it, with Python's email package as an independent judge of what arrived.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <string>
#include <vector>

#include "support/PythonPeer.h"
#include "support/TempDir.h"

class TSmtpPeer {
public:
    // smtp_peer.py: recipients in Refuse are answered "550 5.1.1 No such user"; past
    // MaxRecipients in one transaction (0 = no limit) the answer is "452 4.5.3 Too many recipients".
    explicit TSmtpPeer(const std::vector<std::string>& Refuse = {}, int MaxRecipients = 0)
        : TSmtpPeer("smtp/smtp_peer.py", PlainOptions(Refuse, MaxRecipients))
    {
    }
    // secure_smtp_peer.py with Options (--tls, --auth, --size, …); its CA is Certs/ca.pem.
    static TSmtpPeer Secure(const QStringList& Options) { return TSmtpPeer("smtp/secure_smtp_peer.py", Options); }

    // 0 when the server could not be started (the test then fails on it).
    uint16_t Port() const { return FPeer.Port(); }
    std::string StartError() const { return "aiosmtpd did not start: " + FPeer.Line.toStdString(); }
    // The messages delivered so far, in order, as files for ParseDelivered.
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> Out;
        const QDir Folder(QString::fromStdString(Dir.Path()));
        for (const QString& Name : Folder.entryList({"msg-*.json"}, QDir::Files, QDir::Name))
            Out.push_back(Folder.filePath(Name).toStdString());
        return Out;
    }

    TTempDir Dir, Certs;

private:
    TSmtpPeer(const QString& Script, const QStringList& Options)
        : FPeer(Script, Options + QStringList{"--dir", QString::fromStdString(Dir.Path()), "--certs",
                                              QString::fromStdString(Certs.Path())})
    {
    }
    static QStringList PlainOptions(const std::vector<std::string>& Refuse, int MaxRecipients)
    {
        QStringList Options{"--max-rcpt", QString::number(MaxRecipients)};
        for (const std::string& R : Refuse) Options << "--refuse" << QString::fromStdString(R);
        return Options;
    }

    TPythonPeer FPeer;
};

// A delivered message as smtp_peer.py took it apart: "mail_from", "rcpt_tos",
// "headers" {name: first value}, "subject", "defects",
// "date_valid", "body", "attachments" [{"filename", "size", "sha256", "defects"}],
// "raw_sha256" (of the message as received), "connection" (1 for the first session);
// secure_smtp_peer.py adds "auth_user" and "tls".
inline QJsonObject ParseDelivered(const std::string& Message)
{
    QFile F(QString::fromStdString(Message));
    return F.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(F.readAll()).object() : QJsonObject();
}

inline std::string JsonText(const QJsonValue& V) { return V.toString().toStdString(); }

// The value of the first header Name of a taken-apart message; "" without one.
inline std::string HeaderValue(const QJsonObject& Message, const std::string& Name)
{
    return JsonText(Message["headers"][QString::fromStdString(Name)]);
}

inline std::vector<std::string> Strings(const QJsonValue& Array)
{
    std::vector<std::string> Out;
    for (const QJsonValue& V : Array.toArray()) Out.push_back(JsonText(V));
    return Out;
}

inline std::string Sha256Hex(const std::string& Data)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(Data), QCryptographicHash::Sha256).toHex().toStdString();
}
