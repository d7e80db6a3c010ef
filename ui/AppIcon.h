// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's icon, as the desktop entry names it: the icon theme's "quivra" where it is
// installed, else the program's own copy in every size the theme has.
#include <QIcon>

QIcon appIcon();
