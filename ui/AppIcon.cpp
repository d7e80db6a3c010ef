// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AppIcon.h"

QIcon appIcon()
{
    QIcon bundled;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512})
        bundled.addFile(QString(":/icons/hicolor/%1x%1/apps/quivra.png").arg(size), QSize(size, size));
    return QIcon::fromTheme("quivra", bundled);
}
