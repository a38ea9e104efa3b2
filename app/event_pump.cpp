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

// Runs every enabled event that is not already on the stack, in slot order;
// each slot is read when the scan reaches it. Returns 1 when any was busy.
static int run_idle_events(void) {
    int busy = 0;
    for (int i = 0; i < MAXEVENT; i++) {
        EventSlot *slot = &EventTable[i];
        if (slot->callback == NULL || !slot->enabled || slot->running)
            continue;
        slot->running = 1;
        if (slot->callback() != 0)
            busy = 1;
        slot->running = 0;
    }
    return busy;
}

int pump_messages(int may_wait) {
    if (quit_received)
        return 0;
    MSG msg;
    if (PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE)) {
        drain_queue();
        run_idle_events();
    } else if (!run_idle_events() && may_wait) {
        WaitMessage();
        drain_queue();
        run_idle_events();
    }
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
