#include "AttachmentPreviews.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>

namespace {

void makePreview(const QString &filePath, const QString &previewPath)
{
    QImage image;
    if (!image.load(filePath, "JPG") && !image.load(filePath, "PNG"))
        return;
    const QImage preview = image.width() > image.height() ? image.scaledToWidth(400, Qt::FastTransformation)
                                                          : image.scaledToHeight(400, Qt::FastTransformation);
    // A store made from the template has no preview folders yet.
    QDir().mkpath(QFileInfo(previewPath).absolutePath());
    preview.save(previewPath);
}

} // namespace

void AttachmentPreviews::makeMissing(const ViberData &data)
{
    for (const _ViberAtta *att : data.attachments) {
        if (!att->filePath.isEmpty() && !att->previewPath.isEmpty() &&
            !QFileInfo(att->previewPath).isFile() && QFileInfo(att->filePath).isFile())
            makePreview(att->filePath, att->previewPath);
    }
}

QString AttachmentPreviews::previewName(ViberMsgType type, const QString &fileName)
{
    if (type == ViberMsgTypePicture)
        return fileName;
    if (type != ViberMsgTypeVideo)
        return QString();
    // "clip.v1.mov" has the preview "clip.jpg": the name local databases hold theirs under.
    const QString base = QFileInfo(fileName).baseName();
    return base.isEmpty() ? QString() : base + QStringLiteral(".jpg");
}
