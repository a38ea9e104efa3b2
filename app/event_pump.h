// The event pump: one turn of the thread's message loop combined with a
// table of idle events that run whenever the queue has been emptied.
#ifndef KMOV_APP_EVENT_PUMP_H
#define KMOV_APP_EVENT_PUMP_H

#include <windows.h>

#include <stdint.h>

enum {
    MAXEVENT = 64,
};

// An idle event: returns non-zero while it still has work (busy).
typedef int32_t (*EventCallback)(void);

typedef struct EventSlot {
    EventCallback callback; // null: the slot holds no event
    uint8_t enabled;        // set by event_register; never cleared
    uint8_t running;        // 1 while the pump is inside this slot's callback
} EventSlot;

extern EventSlot EventTable[MAXEVENT];
extern int quit_received;
extern void (*message_hook)(MSG *msg);
extern void (*quit_hook)(void);

// One turn: drains the queue and runs the idle events. Only when may_wait
// is non-zero and no message waited does it wait: in WaitMessage when no
// event was busy, or, when every busy event asked with event_wake_at to run
// again later, in MsgWaitForMultipleObjects until the earliest such time or
// the next message, whichever comes first; after the wait it drains what
// came and runs the idle events once more. Returns 1 until the quit message
// has been retrieved, then 0 (also on every later call, which touches
// nothing).
int pump_messages(int may_wait);

// Called by an idle event from inside its own run: its busy result then
// means "run me again at `time`" (a timeGetTime value), not "at once", so a
// turn that may wait sleeps until then instead of returning to turn again.
// A time already reached counts as "at once". Outside an idle event's run
// it does nothing.
void event_wake_at(uint32_t time);

// Adds an idle event in the first free slot; a full table reports
// "イベント 0x%08x を登録できません。MAXEVENTの値を増やしてください".
void event_register(EventCallback callback);

// Clears the first slot holding the callback; an unknown callback reports
// "event_delete: イベント 0x%08x が見つかりません".
void event_delete(EventCallback callback);

#endif
