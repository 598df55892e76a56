#include "UpdateCheck.h"

#include "AppConstants.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrlQuery>

namespace {

// A service that has not answered by then will not; start-up never waits for it.
constexpr int kTransferTimeoutMs = 15000;
// Replies are a line of text; anything longer is not a reply of the service.
constexpr qint64 kMaxReplyBytes = 64 * 1024;

QNetworkRequest makeRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Chatwharf/" CHATWHARF_VERSION));
    return request;
}

} // namespace

UpdateCheck::UpdateCheck(const QString &baseUrl, const QString &stateFolder, QObject *parent)
    : QObject(parent), m_baseUrl(baseUrl), m_stateFolder(stateFolder)
{
}

UpdateCheck::~UpdateCheck() = default;

QString UpdateCheck::stampFile() const
{
    return QDir(m_stateFolder).filePath(QLatin1String(kStampFileName));
}

QString UpdateCheck::advFile() const
{
    return QDir(m_stateFolder).filePath(QLatin1String(kAdvFileName));
}

bool UpdateCheck::isCheckDue(const QString &stampFile, const QDateTime &now)
{
    QFile file(stampFile);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    bool ok = false;
    const qint64 last = QString::fromLatin1(file.read(64)).trimmed().toLongLong(&ok);
    if (!ok)
        return true;
    const qint64 elapsed = now.toSecsSinceEpoch() - last;
    // A stamp from the future (clock set back) must not silence the check for ever.
    return elapsed < 0 || elapsed > kCheckInterval;
}

bool UpdateCheck::writeStamp(const QString &stampFile, const QDateTime &now)
{
    QSaveFile file(stampFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::number(now.toSecsSinceEpoch()));
    return file.commit();
}

QString UpdateCheck::downloadAddress(const QByteArray &reply)
{
    const QString text = QString::fromUtf8(reply).trimmed();
    if (!text.startsWith(QLatin1String("http://")) && !text.startsWith(QLatin1String("https://")))
        return QString();
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() ? text : QString();
}

QString UpdateCheck::announcement(const QByteArray &reply)
{
    // The reply is shown in the window, so only its link and text are taken and
    // the label's HTML is built here: nothing else of a reply reaches the view.
    static const QRegularExpression link(
        QStringLiteral("^<a\\s+[^>]*href\\s*=\\s*[\"']([^\"']+)[\"'][^>]*>(.*?)</a>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = link.match(QString::fromUtf8(reply).trimmed());
    if (!match.hasMatch())
        return QString();
    const QString href = match.captured(1).trimmed();
    if (!href.startsWith(QLatin1String("http://")) && !href.startsWith(QLatin1String("https://")))
        return QString();
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    const QString text = QString(match.captured(2)).remove(tags).trimmed();
    if (text.isEmpty())
        return QString();
    return QStringLiteral("<a href=\"%1\" style=\"color:#FF8B00;\">%2</a>")
        .arg(href.toHtmlEscaped(), text.toHtmlEscaped());
}

QUrl UpdateCheck::checkUrl() const
{
    QUrl url(m_baseUrl + QStringLiteral("/sms_check_update.php"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("id"), QLatin1String(AppConstants::kAppId));
    query.addQueryItem(QStringLiteral("v"), QStringLiteral(CHATWHARF_VERSION));
    query.addQueryItem(QStringLiteral("q"), QStringLiteral("1"));
    url.setQuery(query);
    return url;
}

QUrl UpdateCheck::announcementUrl() const
{
    QUrl url(m_baseUrl + QStringLiteral("/adv.php"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("id"), QLatin1String(AppConstants::kAppId));
    url.setQuery(query);
    return url;
}

bool UpdateCheck::checkIfDue()
{
    if (m_baseUrl.isEmpty() || !isCheckDue(stampFile(), QDateTime::currentDateTimeUtc()))
        return false;
    return startCheck(false);
}

bool UpdateCheck::checkNow()
{
    if (m_baseUrl.isEmpty()) {
        emit checkFailed(tr("IDS_CHECK_UPDATE_FAILED_%1").arg(m_baseUrl));
        return false;
    }
    return startCheck(true);
}

bool UpdateCheck::startCheck(bool userAsked)
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    if (!writeStamp(stampFile(), QDateTime::currentDateTimeUtc()))
        qWarning("Cannot write %s", qUtf8Printable(stampFile()));
    QNetworkReply *reply = m_network->get(makeRequest(checkUrl()));
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, userAsked] { onCheckFinished(reply, userAsked); });
    return true;
}

void UpdateCheck::onCheckFinished(QNetworkReply *reply, bool userAsked)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        qWarning("Update check at %s failed: %s", qUtf8Printable(m_baseUrl),
                 qUtf8Printable(reply->errorString()));
        if (userAsked)
            emit checkFailed(tr("IDS_CHECK_UPDATE_FAILED_%1").arg(m_baseUrl));
        return;
    }
    const QString address = downloadAddress(reply->read(kMaxReplyBytes));
    if (!address.isEmpty())
        emit newVersionAvailable(address);
    else if (userAsked)
        emit upToDate();
}

bool UpdateCheck::fetchAnnouncement()
{
    if (m_baseUrl.isEmpty())
        return false;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkReply *reply = m_network->get(makeRequest(announcementUrl()));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onAnnouncementFinished(reply); });
    return true;
}

void UpdateCheck::onAnnouncementFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        qWarning("Announcement from %s failed: %s", qUtf8Printable(m_baseUrl),
                 qUtf8Printable(reply->errorString()));
        return;
    }
    const QString html = announcement(reply->read(kMaxReplyBytes));
    if (html.isEmpty())
        return;
    QSaveFile file(advFile());
    if (file.open(QIODevice::WriteOnly)) {
        file.write(html.toUtf8());
        file.commit();
    }
    emit announcementReady(html);
}
