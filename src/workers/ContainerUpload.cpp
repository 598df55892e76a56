#include "ContainerUpload.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

} // namespace

ContainerUpload::ContainerUpload(MobileDeviceHandle device, const WorkSteps &steps)
    : m_steps(steps), m_container(device)
{
    try {
        afc_connect(m_container, u"com.viber"_s);
    } catch (const std::exception &e) {
        fail(tr("IDS_NOT_INSTALL_VIBER_ERR_%1").arg(QString::fromUtf8(e.what())));
    }
}

void ContainerUpload::put(const QString &localPath, const QString &devicePath, bool overwrite)
{
    m_steps.checkCancel();
    const QString name = devicePath.section(u'/', -1);
    m_steps.progress(-1, QString(), tr("IDS_SENDING_%1").arg(name.toHtmlEscaped()));
    if (!QFileInfo::exists(localPath) || devicePath.isEmpty())
        return;
    if (!overwrite) {
        const AfcFileInfo there = afc_file_info(m_container, devicePath);
        if (there.isFile() && there.size > 0)
            return;
    }
    const QString folder = devicePath.left(devicePath.lastIndexOf(u'/'));
    if (!folder.isEmpty() && !afc_file_info(m_container, folder).isDir())
        afc_make_dir(m_container, folder);
    AfcFile out;
    if (!afc_open_write(m_container, devicePath, out))
        fail(tr("IDS_PHONE_CREATE_FAILED_%1").arg(devicePath.toHtmlEscaped()));
    QFile in(localPath);
    const auto readFailed = [&] {
        fail(tr("IDS_LOCAL_READ_FAILED_%1_%2")
                 .arg(QDir::toNativeSeparators(localPath).toHtmlEscaped(), in.errorString().toHtmlEscaped()));
    };
    if (!in.open(QIODevice::ReadOnly))
        readFailed();
    QByteArray buffer(131072, Qt::Uninitialized);
    qint64 sent = 0;
    for (;;) {
        m_steps.checkCancel();
        const qint64 got = in.read(buffer.data(), buffer.size());
        if (got < 0)
            readFailed();
        if (got == 0)
            break;
        if (afc_write(out, buffer.constData(), got) != got)
            fail(tr("IDS_PHONE_WRITE_FAILED_%1").arg(devicePath.toHtmlEscaped()));
        sent += got;
        m_steps.progress(
            -1, QString(),
            tr("IDS_SENDING_%1_%2_%3").arg(name.toHtmlEscaped()).arg(sent / 1024).arg(in.size() / 1024));
    }
    // A close the phone did not confirm may have lost what was written.
    if (!out.close())
        fail(tr("IDS_PHONE_WRITE_FAILED_%1").arg(devicePath.toHtmlEscaped()));
}

void ContainerUpload::putStore(const QString &store)
{
    // Up under another name first: a store cut off halfway must never be Viber's.
    const QString target = u"/Documents/Contacts.data"_s, staged = target + u".chatwharf-new"_s;
    put(store, staged, true);
    afc_remove(m_container, target + u"-wal"_s);
    afc_remove(m_container, target + u"-shm"_s);
    // A file system that will not rename over a file gets the old store removed first.
    if (!afc_rename(m_container, staged, target) &&
        !(afc_remove(m_container, target) && afc_rename(m_container, staged, target)))
        fail(tr("IDS_PHONE_WRITE_FAILED_%1").arg(target.toHtmlEscaped()));
}

qint64 ContainerUpload::highestVoiceFile()
{
    static const QRegularExpression number(u"^[0-9]+$"_s);
    qint64 highest = 0;
    for (const AfcFileInfo &file : afc_list_dir(m_container, u"/Documents/VoiceMessages"_s)) {
        const QString name = file.path.section(u'/', -1);
        if (!file.isFile() || !number.match(name).hasMatch())
            continue;
        if (file.size == 0)
            afc_remove(m_container, file.path);
        else
            highest = std::max(highest, name.toLongLong());
    }
    return highest;
}
