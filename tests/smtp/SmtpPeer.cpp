#include "SmtpPeer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <csignal>

namespace {
const char* const Python = QUILLCAST_PYTHON;
const QString ScriptDir = QStringLiteral(QUILLCAST_SMTP_TEST_DIR);
}  // namespace

TSmtpPeer::TSmtpPeer(const std::vector<std::string>& Refuse)
{
    QStringList Args{ScriptDir + "/smtp_peer.py", "--dir", QString::fromStdString(FDir.Path())};
    for (const std::string& R : Refuse)
        Args << "--refuse" << QString::fromStdString(R);
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(Python, Args);
    if (!FProcess.waitForStarted(10000)) {
        FError = "cannot start " + std::string(Python) + ": " + FProcess.errorString().toStdString();
        return;
    }
    QByteArray Line;
    while (!Line.contains('\n') && FProcess.waitForReadyRead(20000))
        Line += FProcess.readAll();
    if (!Line.startsWith("PORT ")) {
        FError = "aiosmtpd did not start: " + Line.toStdString();
        return;
    }
    FPort = static_cast<uint16_t>(Line.mid(5).trimmed().toUInt());
}

TSmtpPeer::~TSmtpPeer()
{
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
}

std::vector<std::string> TSmtpPeer::Messages() const
{
    std::vector<std::string> Out;
    const QDir Dir(QString::fromStdString(FDir.Path()));
    for (const QString& Name : Dir.entryList({"msg-*.eml"}, QDir::Files, QDir::Name))
        Out.push_back(Dir.filePath(Name).toStdString());
    return Out;
}

QJsonObject TSmtpPeer::Envelope(int Index) const
{
    QFile F(QString::fromStdString(FDir.File(QString::asprintf("msg-%03d.json", Index).toStdString())));
    if (!F.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(F.readAll()).object();
}

QJsonObject ParseDelivered(const std::string& EmlPath)
{
    QProcess P;
    P.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    P.start(Python, {ScriptDir + "/parse_message.py", QString::fromStdString(EmlPath)});
    if (!P.waitForFinished(60000) || P.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(P.readAllStandardOutput()).object();
}

std::string Sha256Hex(const std::string& Data)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(Data), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}
