#include "IOSFileDownloader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

namespace {

constexpr qint64 kBufferSize = 524288;

// The partial copy beside the target, removed unless it was put in place.
class PartFile
{
public:
    explicit PartFile(const QString &target) : m_file(target + QStringLiteral(".part")) {}
    ~PartFile()
    {
        if (!m_keep)
            m_file.remove();
    }
    QFile &file() { return m_file; }
    void kept() { m_keep = true; }

private:
    QFile m_file;
    bool m_keep = false;
};

} // namespace

IOSFileDownloader::IOSFileDownloader(const QString &manifestPath, CancelCheck cancelled,
                                     ProgressSink progress)
    : m_manifest(manifestPath), m_cancelled(std::move(cancelled)), m_progress(std::move(progress))
{
}

void IOSFileDownloader::checkCancel() const
{
    if (m_cancelled && m_cancelled())
        throw -1;
}

bool IOSFileDownloader::download(AfcConnection &connection, const AfcFileInfo &info, const QString &localPath,
                                 bool useCache)
{
    checkCancel();
    const QString folder = QFileInfo(localPath).absolutePath();
    if (!QDir().mkpath(folder))
        throw DeviceException(tr("IDS_DL_NO_FOLDER_%1").arg(QDir::toNativeSeparators(folder)));
    if (!info.isFile())
        return false; // a folder, or a file that vanished since it was listed
    // The manifest alone is not trusted: the copy it speaks of may have been
    // removed or cut short since.
    const qint64 modified = info.modifiedSecs();
    if (useCache && m_manifest.lastDate(info.path) == modified && QFileInfo(localPath).size() == info.size &&
        QFileInfo(localPath).isFile())
        return false;

    AfcFile device;
    if (!afc_open_read(connection, info.path, device))
        throw DeviceException(tr("IDS_DL_CANNOT_READ_%1").arg(info.path.toHtmlEscaped()));
    // Written beside the target and put in place only when whole, so that a
    // failed or cancelled copy neither leaves a partial file nor spoils the
    // copy of an earlier run.
    PartFile part(localPath);
    if (!part.file().open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw DeviceException(tr("IDS_DL_CANNOT_CREATE_%1_%2")
                                  .arg(QDir::toNativeSeparators(localPath), part.file().errorString()));
    if (m_buffer.isEmpty())
        m_buffer.resize(kBufferSize);
    const QString name = QFileInfo(info.path).fileName();
    const QString total = QLocale().toString(info.size / 1024);
    qint64 done = 0;
    for (;;) {
        checkCancel();
        const qint64 n = afc_read(device, m_buffer.data(), kBufferSize);
        // A refused read is no end of the file: taking it as one would keep a
        // cut copy as if it were whole.
        if (n < 0)
            throw DeviceException(tr("IDS_DL_READ_FAILED_%1").arg(info.path.toHtmlEscaped()));
        if (n == 0)
            break;
        if (part.file().write(m_buffer.constData(), n) != n)
            throw DeviceException(tr("IDS_DL_WRITE_FAILED_%1_%2")
                                      .arg(QDir::toNativeSeparators(localPath), part.file().errorString()));
        done += n;
        if (m_progress)
            m_progress(tr("IDS_DL_LOADING_%1_%2_%3").arg(name, QLocale().toString(done / 1024), total));
    }
    device.close();
    // A file that grew since it was listed is copied whole; one that came
    // shorter than the device said is a copy cut short.
    if (done < info.size)
        throw DeviceException(
            tr("IDS_DL_SHORT_%1_%2_%3")
                .arg(info.path.toHtmlEscaped(), QLocale().toString(done), QLocale().toString(info.size)));
    if (!part.file().flush() || (part.file().close(), part.file().error() != QFileDevice::NoError))
        throw DeviceException(tr("IDS_DL_WRITE_FAILED_%1_%2")
                                  .arg(QDir::toNativeSeparators(localPath), part.file().errorString()));
    // The earlier copy goes first: a rename never replaces a file.
    if ((QFileInfo::exists(localPath) && !QFile::remove(localPath)) || !part.file().rename(localPath))
        throw DeviceException(tr("IDS_DL_CANNOT_CREATE_%1_%2")
                                  .arg(QDir::toNativeSeparators(localPath), part.file().errorString()));
    part.kept();
    if (useCache)
        m_manifest.setLastDate(info.path, modified);
    return true;
}

bool IOSFileDownloader::download(AfcConnection &connection, const QString &devicePath,
                                 const QString &localPath, bool useCache)
{
    checkCancel();
    return download(connection, afc_file_info(connection, devicePath), localPath, useCache);
}
