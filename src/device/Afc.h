#pragma once

#include "device/DeviceException.h"
#include "device/MobileDevice.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>

// Files on an iPhone over AFC: inside an app's container (reached through
// house_arrest) or in the media area. Everything here runs on the thread that
// owns the connection.
//
// Two kinds of failure are kept apart. The device may refuse a request (a
// missing path, a full disk): the operations below then return false, -1 or an
// empty value, and the connection stays usable. When the connection itself
// fails (closed, silent past the time-out, or speaking nonsense) an
// AfcException is raised naming the device path, and the connection is closed,
// since the stream of packets can no longer be followed.

// The connection failed; the text names the device path and the cause.
class AfcException : public DeviceException
{
public:
    using DeviceException::DeviceException;
};

// Operation and answer codes of the AFC packet header.
enum AfcOperation : quint64 {
    AfcOpStatus = 1,
    AfcOpData = 2,
    AfcOpReadDir = 3,
    AfcOpRemovePath = 8,
    AfcOpMakeDir = 9,
    AfcOpGetFileInfo = 10,
    AfcOpFileOpen = 13,
    AfcOpFileOpenResult = 14,
    AfcOpFileRead = 15,
    AfcOpFileWrite = 16,
    AfcOpFileTellResult = 19,
    AfcOpFileClose = 20,
    AfcOpRenamePath = 24,
};

constexpr qint64 kAfcHeaderSize = 40;
// The most a read request asks for, and the most a write packet carries.
constexpr qint64 kAfcReadChunk = 65536;
constexpr qint64 kAfcWriteChunk = 32768;
// Open modes: read an existing file; create or truncate a file for writing.
constexpr quint64 kAfcModeRead = 1;
constexpr quint64 kAfcModeWrite = 3;

// The header that begins every AFC packet, 40 bytes: the magic "CFA6LPAA",
// then the four fields, each 8 bytes little-endian. The entire length counts
// the header and everything after it; this length the header and the
// operation's fixed fields, which for all but a file write is all of it.
struct AfcHeader
{
    quint64 entireLength = 0;
    quint64 thisLength = 0;
    quint64 packetNumber = 0;
    quint64 operation = 0;

    void write(char *to) const;
    QByteArray bytes() const;
    // False when the bytes are no AFC header: another magic, or lengths that
    // cannot be (shorter than the header, or this length beyond the entire one).
    static bool read(const char *from, AfcHeader &header);
};

// What the device tells about a path. An empty type means it does not exist.
struct AfcFileInfo
{
    QString path;
    qint64 size = 0;
    QDateTime modified; // UTC, whole milliseconds
    QString type;       // "S_IFREG", "S_IFDIR", "S_IFLNK", ...

    bool exists() const { return !type.isEmpty(); }
    bool isFile() const { return type == QLatin1String("S_IFREG"); }
    bool isDir() const { return type == QLatin1String("S_IFDIR"); }
    // The modification time in whole seconds since 1970, as the download cache keeps it.
    qint64 modifiedSecs() const;
};

// An AFC service on one device. Copies share the socket; it closes with the
// last copy or with close().
class AfcConnection
{
    Q_DECLARE_TR_FUNCTIONS(AfcConnection)

public:
    explicit AfcConnection(MobileDeviceHandle device = nullptr);

    MobileDeviceHandle device() const;
    bool isOpen() const;
    // The service socket; -1 when closed.
    int socket() const;
    // Closing a closed connection does nothing.
    void close();

    // How long the device may take to answer, in ms (kServiceTimeoutMs unless changed).
    int timeoutMs() const;
    void setTimeoutMs(int timeoutMs);

    struct State;
    std::shared_ptr<State> state() const { return m_state; }

private:
    std::shared_ptr<State> m_state;
};

// A file opened on the device. Destroying an open file closes it.
class AfcFile
{
public:
    AfcFile() = default;
    ~AfcFile();
    AfcFile(const AfcFile &) = delete;
    AfcFile &operator=(const AfcFile &) = delete;

    bool isOpen() const { return m_handle != 0; }
    quint64 handle() const { return m_handle; }
    QString path() const { return m_path; }
    // Closes the device file; false when the device did not confirm it (what
    // was written may then be lost). Never raises.
    bool close();

private:
    friend bool afc_open(AfcConnection &, const QString &, quint64, AfcFile &);
    friend qint64 afc_read(AfcFile &, char *, qint64);
    friend qint64 afc_write(AfcFile &, const char *, qint64);

    AfcConnection m_connection;
    quint64 m_handle = 0;
    QString m_path;
};

// Starts the AFC service of the connection's device: the media area for an
// empty app identifier, else the app's container through house_arrest (its
// Documents folder only, when the phone refuses the whole container). Closes
// what the connection had open first. Raises a DeviceException when the
// service cannot be started or the device refuses the container.
void afc_connect(AfcConnection &connection, const QString &appId);

// Opens the device file in the mode; false when the device refuses.
bool afc_open(AfcConnection &connection, const QString &path, quint64 mode, AfcFile &file);
bool afc_open_read(AfcConnection &connection, const QString &path, AfcFile &file);
bool afc_open_write(AfcConnection &connection, const QString &path, AfcFile &file);

// Reads up to count bytes, fewer only at the end of the file; -1 when the
// device refuses (or the file is not open).
qint64 afc_read(AfcFile &file, char *buffer, qint64 count);
// Writes count bytes; -1 when the device refuses (or the file is not open).
qint64 afc_write(AfcFile &file, const char *bytes, qint64 count);

// True when the device did it.
bool afc_make_dir(AfcConnection &connection, const QString &path);
bool afc_remove(AfcConnection &connection, const QString &path);
bool afc_rename(AfcConnection &connection, const QString &from, const QString &to);

// The regular files and folders in a folder, in the device's order; empty for
// a folder the device refuses or that does not exist. Names that would step
// out of the folder ("..", "a/b") are left out.
QList<AfcFileInfo> afc_list_dir(AfcConnection &connection, const QString &path);
// What the device tells about the path; an empty type when it does not exist.
AfcFileInfo afc_file_info(AfcConnection &connection, const QString &path);
