#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What every fuzz target shares: a Qt application object, quiet logging (a
// warning per damaged row would make the run about writing to the terminal),
// and one scratch folder per process for readers that take a file path.
namespace fuzzsupport {

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

inline void ignoreMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

inline void initialise(int *argc, char ***argv)
{
    qInstallMessageHandler(ignoreMessage);
    static QCoreApplication app(*argc, *argv);
}

// Removed again when the process ends normally; a crash leaves it under /tmp.
inline const QString &scratchFolder()
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/chatwharf-fuzz-XXXXXX"));
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot make a scratch folder\n");
        std::abort();
    }
    static const QString path = folder.path();
    return path;
}

// Replaces the file's content by the bytes.
inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A finding that is no sanitizer report: libFuzzer keeps the input for an abort too.
[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace fuzzsupport

#define CHATWHARF_FUZZ_INIT                                                                                  \
    extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)                                             \
    {                                                                                                        \
        fuzzsupport::initialise(argc, argv);                                                                 \
        return 0;                                                                                            \
    }
