// The event pump: the thread's message loop and the idle-event table. See
// event_pump.h.
#include "event_pump.h"

#include "fatal_error.h"

#include <inttypes.h>
#include <stddef.h>

EventSlot EventTable[MAXEVENT];
int quit_received = 0;

static void translate_and_dispatch(MSG *msg) {
    TranslateMessage(msg);
    DispatchMessageW(msg);
}

static void ignore_quit(void) {}

void (*message_hook)(MSG *msg) = translate_and_dispatch;
void (*quit_hook)(void) = ignore_quit;

// Retrieves and hands on every message until the queue is empty or the quit
// message has been retrieved.
static void drain_queue(void) {
    MSG msg;
    for (;;) {
        BOOL got = GetMessageW(&msg, NULL, 0, 0);
        if (got == 0) {
            quit_hook();
            quit_received = 1;
            return;
        }
        if (got < 0) // nothing was retrieved; cannot happen without a window filter
            return;
        message_hook(&msg);
        if (!PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE))
            return;
    }
}

// What one idle scan asks of the turn: to come back at once (busy), at a
// time (wake), or not until a message comes.
typedef struct IdleResult {
    int busy; // an event had work now
    int wake; // an event asked to run again at wake_time
    uint32_t wake_time;
} IdleResult;

// The wake request of the event being run: set by event_wake_at, read when
// the event returns. Saved around each run, so a nested turn inside an
// event cannot take it over.
static int wake_asked = 0;
static uint32_t wake_asked_time = 0;
static int event_depth = 0;

void event_wake_at(uint32_t time) {
    if (event_depth == 0)
        return;
    wake_asked = 1;
    wake_asked_time = time;
}

// Runs every enabled event that is not already on the stack, in slot order;
// each slot is read when the scan reaches it. A busy event that asked for a
// later wake-up counts as a wake time, not as busy.
static IdleResult run_idle_events(void) {
    IdleResult result = {0, 0, 0};
    for (int i = 0; i < MAXEVENT; i++) {
        EventSlot *slot = &EventTable[i];
        if (slot->callback == NULL || !slot->enabled || slot->running)
            continue;
        int outer_asked = wake_asked;
        uint32_t outer_time = wake_asked_time;
        wake_asked = 0;
        slot->running = 1;
        event_depth++;
        int32_t busy = slot->callback();
        event_depth--;
        slot->running = 0;
        if (busy != 0) {
            if (!wake_asked)
                result.busy = 1;
            else if (!result.wake || (int32_t)(wake_asked_time - result.wake_time) < 0) {
                result.wake = 1;
                result.wake_time = wake_asked_time;
            }
        }
        wake_asked = outer_asked;
        wake_asked_time = outer_time;
    }
    return result;
}

int pump_messages(int may_wait) {
    if (quit_received)
        return 0;
    MSG msg;
    if (PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE)) {
        drain_queue();
        run_idle_events();
        return quit_received ? 0 : 1;
    }
    IdleResult idle = run_idle_events();
    if (idle.busy || !may_wait)
        return quit_received ? 0 : 1;
    if (!idle.wake) {
        WaitMessage();
        drain_queue();
        run_idle_events();
        return quit_received ? 0 : 1;
    }
    // Playback waits for its next due time here instead of turning the loop
    // again at once: the thread sleeps until then or until input comes.
    int32_t left = (int32_t)(idle.wake_time - timeGetTime());
    if (left <= 0)
        return 1;
    MsgWaitForMultipleObjects(0, NULL, FALSE, (DWORD)left, QS_ALLINPUT);
    if (PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE))
        drain_queue();
    run_idle_events();
    return quit_received ? 0 : 1;
}

void event_register(EventCallback callback) {
    for (int i = 0; i < MAXEVENT; i++) {
        EventSlot *slot = &EventTable[i];
        if (slot->callback == NULL && !slot->running) {
            slot->callback = callback;
            slot->enabled = 1;
            slot->running = 0;
            return;
        }
    }
    fatal_error("イベント 0x%08" PRIxPTR " を登録できません。MAXEVENTの値を増やしてください",
                (uintptr_t)callback);
}

void event_delete(EventCallback callback) {
    for (int i = 0; i < MAXEVENT; i++) {
        if (EventTable[i].callback == callback) {
            EventTable[i].callback = NULL;
            return;
        }
    }
    fatal_error("event_delete: イベント 0x%08" PRIxPTR " が見つかりません", (uintptr_t)callback);
}
