#pragma once

// Removes, translates and dispatches every message waiting in the calling
// thread's queue; returns as soon as the queue is empty, never waits.
void PumpMessages();
