#include "SmtpPeer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QStringList PlainOptions(const std::vector<std::string>& Refuse, int MaxRecipients)
{
    QStringList Options{"--max-rcpt", QString::number(MaxRecipients)};
    for (const std::string& R : Refuse)
        Options << "--refuse" << QString::fromStdString(R);
    return Options;
}

}  // namespace

TSmtpPeer::TSmtpPeer(const std::vector<std::string>& Refuse, int MaxRecipients)
    : TSmtpPeer("smtp/smtp_peer.py", PlainOptions(Refuse, MaxRecipients))
{
}

TSmtpPeer::TSmtpPeer(const QString& Script, const QStringList& Options)
    : FPeer(Script, Options + QStringList{"--dir", QString::fromStdString(Dir.Path()), "--certs",
                                          QString::fromStdString(Certs.Path())})
{
}

std::vector<std::string> TSmtpPeer::Messages() const
{
    std::vector<std::string> Out;
    const QDir Folder(QString::fromStdString(Dir.Path()));
    for (const QString& Name : Folder.entryList({"msg-*.json"}, QDir::Files, QDir::Name))
        Out.push_back(Folder.filePath(Name).toStdString());
    return Out;
}

QJsonObject ParseDelivered(const std::string& Message)
{
    QFile F(QString::fromStdString(Message));
    return F.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(F.readAll()).object() : QJsonObject();
}

std::string JsonText(const QJsonValue& V)
{
    return V.toString().toStdString();
}

std::string HeaderValue(const QJsonObject& Message, const std::string& Name)
{
    for (const QJsonValue& H : Message["headers"].toArray())
        if (JsonText(H.toArray()[0]) == Name)
            return JsonText(H.toArray()[1]);
    return "";
}

std::vector<std::string> Strings(const QJsonValue& Array)
{
    std::vector<std::string> Out;
    for (const QJsonValue& V : Array.toArray())
        Out.push_back(JsonText(V));
    return Out;
}

std::string Sha256Hex(const std::string& Data)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(Data), QCryptographicHash::Sha256).toHex().toStdString();
}
