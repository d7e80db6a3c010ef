// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempHome.h"

#include <cstdlib>

TempHome::TempHome()
    : oldHome_(qgetenv("HOME")), oldData_(qgetenv("XDG_DATA_HOME")), hadHome_(qEnvironmentVariableIsSet("HOME")),
      hadData_(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
{
    qputenv("HOME", dir_.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (dir_.path() + "/data").toLocal8Bit());
}

TempHome::~TempHome()
{
    if (hadHome_)
        qputenv("HOME", oldHome_);
    else
        qunsetenv("HOME");
    if (hadData_)
        qputenv("XDG_DATA_HOME", oldData_);
    else
        qunsetenv("XDG_DATA_HOME");
}
