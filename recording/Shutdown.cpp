// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Shutdown.h"

#include "recording/Publishing.h"
#include "recording/Recorder.h"
#include "recording/StoreKeeper.h"

bool shutDown(Recorder& recorder, StoreKeeper& keeper, Publishing* publishing, store::StoreError& error)
{
    recorder.endCapture();
    const bool saved = keeper.finalSave(error);
    // After the final save: what it delivered is published too, then "offline".
    if (publishing) publishing->stop();
    return saved;
}
