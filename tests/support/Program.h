// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's program as main builds it: an accelerometer and a store keeper, handed to the
// application delegate, which goes first.
#include "platform/sensors/Accelerometer.h"
#include "recording/StoreKeeper.h"
#include "ui/QuivraAppDelegate.h"

struct Program {
    sensors::Accelerometer accelerometer;
    StoreKeeper keeper;
    QuivraAppDelegate delegate{accelerometer, keeper};
};
