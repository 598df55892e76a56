#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The update service the main window asks at start when the user turned that on:
// the daily check for a newer version and the announcement link. Neither may hold
// up or break the program: a service that does not answer is logged and forgotten.
class UpdateCheck : public QObject
{
    Q_OBJECT
public:
    // Seconds between two automatic checks.
    static constexpr qint64 kCheckInterval = 86400;
    // State files in the data folder.
    static constexpr const char *kStampFileName = "last-check-version-time";
    static constexpr const char *kAdvFileName = "last-adv";

    // baseUrl empty: no request is ever made (tests, and builds without services).
    // stateFolder holds the state files.
    UpdateCheck(const QString &baseUrl, const QString &stateFolder, QObject *parent = nullptr);
    ~UpdateCheck() override;

    // Whether the automatic check is due: the stamp file is missing, unreadable or
    // older than kCheckInterval seconds at now.
    static bool isCheckDue(const QString &stampFile, const QDateTime &now);
    // Writes now as seconds since the epoch; false when the file cannot be written.
    static bool writeStamp(const QString &stampFile, const QDateTime &now);
    // The download address in a check reply ("" when the reply offers none).
    static QString downloadAddress(const QByteArray &reply);
    // The label HTML of a reply that starts with a web link: that link alone, in the
    // announcement colour, its text escaped; "" for any other reply.
    static QString announcement(const QByteArray &reply);

    // The automatic check: asks only when due. Returns whether a request went out.
    bool checkIfDue();
    // A check the user asked for: always asks.
    bool checkNow();
    bool fetchAnnouncement();

    QUrl checkUrl() const;
    QUrl announcementUrl() const;
    QString stampFile() const;
    QString advFile() const;

signals:
    // A newer version can be downloaded from url.
    void newVersionAvailable(const QString &url);
    // The check answered and offers nothing newer (only after checkNow).
    void upToDate();
    // The check could not be made; error is a sentence naming the service.
    void checkFailed(const QString &error);
    void announcementReady(const QString &html);

private:
    void onCheckFinished(QNetworkReply *reply, bool userAsked);
    void onAnnouncementFinished(QNetworkReply *reply);
    bool startCheck(bool userAsked);

    QString m_baseUrl;
    QString m_stateFolder;
    QNetworkAccessManager *m_network = nullptr;
};
