#pragma once
#include <windows.h>

namespace toolkit {

// Holds the calling thread for `milliseconds`, answering in the meantime only
// the messages other threads and processes send to its windows (a screen
// reader asking for a name sends them). Nothing is taken from the queue: no
// input, no paint, no timer and no posted message is handled until it ends.
void WaitAnsweringSentMessages(DWORD milliseconds);

}  // namespace toolkit
