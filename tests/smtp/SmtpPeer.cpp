#include "SmtpPeer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

TSmtpPeer::TSmtpPeer(const std::vector<std::string>& Refuse, int MaxRecipients)
{
    QStringList Args{QUILLCAST_SMTP_TEST_DIR "/smtp_peer.py", "--dir", QString::fromStdString(FDir.Path())};
    for (const std::string& R : Refuse)
        Args << "--refuse" << QString::fromStdString(R);
    Args << "--max-rcpt" << QString::number(MaxRecipients);
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(QUILLCAST_PYTHON, Args);
    QByteArray Line;
    while (!Line.contains('\n') && FProcess.waitForReadyRead(20000))
        Line += FProcess.readAll();
    if (Line.startsWith("PORT "))
        FPort = static_cast<uint16_t>(Line.mid(5).trimmed().toUInt());
    else
        FError = "aiosmtpd did not start: " + FProcess.errorString().toStdString() + " " + Line.toStdString();
}

TSmtpPeer::~TSmtpPeer()
{
    FProcess.terminate();
    if (!FProcess.waitForFinished(5000))
        FProcess.kill();
    FProcess.waitForFinished(5000);
}

std::vector<std::string> TSmtpPeer::Messages() const
{
    std::vector<std::string> Out;
    const QDir Dir(QString::fromStdString(FDir.Path()));
    for (const QString& Name : Dir.entryList({"msg-*.json"}, QDir::Files, QDir::Name))
        Out.push_back(Dir.filePath(Name).toStdString());
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
