#include "KeychainStore.h"

#include <QDeadlineTimer>
#include <memory>
#include <qt6keychain/keychain.h>

#include "platform/MessagePump.h"

namespace {

const QString Service = QStringLiteral("Quillcast");
const int AnswerWaitMs = 120000;

// Runs Job to its end, processing events meanwhile as the socket waits do, and hands it
// back for its result; nullptr when the keyring did not answer in time. A job still running then deletes itself once it ends, since the keyring
// may still call back into it.
template <class TJob>
std::unique_ptr<TJob> Finish(TJob* Job, const std::string& Account)
{
    Job->setAutoDelete(false);
    Job->setInsecureFallback(false);
    Job->setKey(QString::fromStdString(Account));
    bool finished = false;
    const QMetaObject::Connection done =
        QObject::connect(Job, &QKeychain::Job::finished, [&finished] { finished = true; });
    Job->start();
    const QDeadlineTimer deadline(AnswerWaitMs);
    while (!finished && !deadline.hasExpired()) SleepAndProcessMessages(50);
    QObject::disconnect(done);
    if (finished) return std::unique_ptr<TJob>(Job);
    Job->setAutoDelete(true);
    return nullptr;
}

}  // namespace

std::optional<std::string> TKeychainStore::Read(const std::string& Account)
{
    const auto job = Finish(new QKeychain::ReadPasswordJob(Service), Account);
    if (!job || job->error() != QKeychain::NoError) return std::nullopt;
    return job->textData().toStdString();
}

bool TKeychainStore::Write(const std::string& Account, const std::string& Secret)
{
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setTextData(QString::fromStdString(Secret));
    const auto done = Finish(job, Account);
    return done && done->error() == QKeychain::NoError;
}

void TKeychainStore::Remove(const std::string& Account) { Finish(new QKeychain::DeletePasswordJob(Service), Account); }
