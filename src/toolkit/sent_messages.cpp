#include "toolkit/sent_messages.h"

namespace toolkit {

namespace {

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

LONGLONG TicksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

}  // namespace

void WaitAnsweringSentMessages(DWORD milliseconds) {
    // Timed by the performance counter: the wait's own timeout rounds to the
    // system's tick, which would end the hold early or late by that much.
    const LONGLONG perSecond = TicksPerSecond();
    const LONGLONG end = Now() + perSecond * milliseconds / 1000;
    for (LONGLONG left = end - Now(); left > 0; left = end - Now()) {
        const auto timeout = static_cast<DWORD>((left * 1000 + perSecond - 1) / perSecond);  // rounded up
        if (MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_SENDMESSAGE, 0) == WAIT_OBJECT_0) {
            MSG message;
            // Dispatches every message sent so far; with only sent messages
            // asked for, nothing posted is even looked at.
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

}  // namespace toolkit
