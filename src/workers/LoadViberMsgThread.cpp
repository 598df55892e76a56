#include "LoadViberMsgThread.h"

#include "viber/AttachmentPreviews.h"
#include "viber/IOSViberDb.h"

LoadViberMsgThread::LoadViberMsgThread(const QDir &root, const QString &fileName, QObject *parent)
    : LoadViberMsgThread(std::make_unique<IOSViberDb>(root, fileName, true), root.path(), parent)
{
}

LoadViberMsgThread::LoadViberMsgThread(std::unique_ptr<AbsViberDb> store, const QString &name,
                                       QObject *parent)
    : WorkerThread(parent), m_store(std::move(store)), m_name(name)
{
}

LoadViberMsgThread::~LoadViberMsgThread()
{
    // work() uses the members; the base would wait only after they are gone.
    wait();
}

QString LoadViberMsgThread::work()
{
    m_data.reset();
    reportProgress(0, tr("IDS_LOADING_%1").arg(QDir::toNativeSeparators(m_name).toHtmlEscaped()));
    // A cancel stops the read between rows; the store is closed as the load unwinds.
    m_store->setLoadProgress([this](int percent) {
        reportProgress(percent);
        checkCancel();
    });
    ViberDataPtr data = m_store->load();
    m_store->close();
    // Pictures without a preview get one, so that the chat shows small pictures.
    if (m_makePreviews)
        AttachmentPreviews::makeMissing(*data);
    // A cancel during the read comes into effect here: the records are dropped.
    checkCancel();
    m_data = std::move(data);
    return QString();
}
