// A quick restart (by the user, or by an update's script a moment after the old program
// ended) can find the previous run's browser processes still holding the data folder;
// the runtime then refuses the environment or the controller until they have gone.
// Such a failure is retried for up to 20 s before it counts.
#pragma once

#include <windows.h>

// A creation sequence begins (at `startedAt`, a GetTickCount64 time): its time for retries
// starts then.
void NoteCreationStart(ULONGLONG startedAt = GetTickCount64());

// True when `hr` is what a held data folder gives and the sequence is still young:
// `again` then runs on the UI thread a moment later.
bool RetryCreationLater(HRESULT hr, void (*again)());
