#include "KeychainSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QObject>
#include <QThread>

#include <future>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace Detail {

// The thread that runs QtKeychain's jobs, with a context object living on it.
// One per process for its whole life: QtKeychain queues its jobs through an
// internal object that stays on the thread of the first job, so every job must
// run on that same thread. Never destroyed: a job stuck on an unlock prompt may
// keep it busy until the process ends.
struct KeychainWorker {
    QThread thread;
    QObject* context = nullptr;

    static KeychainWorker* shared()
    {
        static KeychainWorker* const worker = [] {
            auto* created = new KeychainWorker;
            created->thread.setObjectName(QStringLiteral("wardlamp-keychain"));
            created->context = new QObject;
            created->context->moveToThread(&created->thread);
            created->thread.start();
            return created;
        }();
        return worker;
    }
};

} // namespace Detail

namespace {

struct JobResult {
    QKeychain::Error error = QKeychain::NoError;
    QByteArray data;
};

// Starts `makeJob` on the worker thread and waits for its finished() at most
// `timeout`. Nothing when the job did not finish in time.
template <typename MakeJob>
std::optional<JobResult> runJob(Detail::KeychainWorker* worker, std::chrono::milliseconds timeout, MakeJob makeJob)
{
    auto promise = std::make_shared<std::promise<JobResult>>();
    std::future<JobResult> future = promise->get_future();
    QMetaObject::invokeMethod(worker->context, [promise, makeJob] {
        QKeychain::Job* job = makeJob();
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        QObject::connect(job, &QKeychain::Job::finished, job, [promise](QKeychain::Job* finished) {
            JobResult result;
            result.error = finished->error();
            if (auto* reader = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                result.data = reader->binaryData();
            promise->set_value(std::move(result));
        });
        job->start();
    });
    if (future.wait_for(timeout) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

} // namespace

KeychainSecretStore::KeychainSecretStore(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
    , m_worker(Detail::KeychainWorker::shared())
{
}

KeychainSecretStore::~KeychainSecretStore() = default;

Expected<QByteArray, SecretStoreError> KeychainSecretStore::read(const QString& account)
{
    const auto result = runJob(m_worker, m_timeout, [account] {
        auto* job = new QKeychain::ReadPasswordJob(QString(service));
        job->setKey(account);
        return job;
    });
    if (!result)
        return SecretStoreError::unavailable;
    if (result->error == QKeychain::EntryNotFound)
        return SecretStoreError::notFound;
    if (result->error != QKeychain::NoError)
        return SecretStoreError::unavailable;
    return result->data;
}

bool KeychainSecretStore::write(const QString& account, const QByteArray& data)
{
    const auto result = runJob(m_worker, m_timeout, [account, data] {
        auto* job = new QKeychain::WritePasswordJob(QString(service));
        job->setKey(account);
        job->setBinaryData(data);
        return job;
    });
    return result && result->error == QKeychain::NoError;
}

QString KeychainSecretStore::describe() const
{
    return u"Secret Service"_s;
}

} // namespace Wardlamp
