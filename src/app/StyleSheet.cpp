#include "StyleSheet.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex s_mutex;
QString s_styleSheet;
bool s_loaded = false;

} // namespace

QString appStyleSheet()
{
    QMutexLocker lock(&s_mutex);
    if (!s_loaded) {
        QFile file(QStringLiteral(":/style.css"));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        s_styleSheet = QString::fromUtf8(file.readAll());
        s_loaded = true;
    }
    return s_styleSheet;
}
