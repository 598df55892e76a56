#pragma once

#include "viber/ViberData.h"

#include <QList>
#include <QMetaType>

// Messages handed between views: display order, pointers owned by a ViberData.
using ViberMsgList = QList<_ViberMsg *>;
