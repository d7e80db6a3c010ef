// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Saves run on the store's writer thread: a test that needs one done waits for it.
#include <QTest>

#include "platform/store/ObjectContext.h"

inline bool savedSoon(store::ObjectContext* context)
{
    return QTest::qWaitFor([context] { return !context->hasChanges(); }, 5000);
}
