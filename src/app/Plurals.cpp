#include "Plurals.h"

#include <QCoreApplication>

namespace Plurals {

QString messages(qint64 count)
{
    return QCoreApplication::translate("Plurals", "IDS_N_MESSAGES_%n", nullptr, int(count));
}

QString calls(qint64 count)
{
    return QCoreApplication::translate("Plurals", "IDS_N_CALLS_%n", nullptr, int(count));
}

} // namespace Plurals
