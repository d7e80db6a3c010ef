// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one way out, for the window and `quivra record` alike: capture stops and its thread is
// joined, everything it took is handed over and stored, the final save (which retries for a
// while), then publishing says what is left and goes offline.
#include "platform/store/Database.h"

class Publishing;
class Recorder;
class StoreKeeper;

// False when the final save never succeeded; `error` then says why, and how many samples are
// lost was logged. Publishing (if any) is stopped either way.
bool shutDown(Recorder& recorder, StoreKeeper& keeper, Publishing* publishing, store::StoreError& error);
