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

// One turn: drains the queue and runs the idle events; blocks in
// WaitMessage only when may_wait is non-zero, no message waited and no
// event was busy. Returns 1 until the quit message has been retrieved, then
// 0 (also on every later call, which touches nothing).
int pump_messages(int may_wait);

// Adds an idle event in the first free slot; a full table reports
// "イベント 0x%08x を登録できません。MAXEVENTの値を増やしてください".
void event_register(EventCallback callback);

// Clears the first slot holding the callback; an unknown callback reports
// "event_delete: イベント 0x%08x が見つかりません".
void event_delete(EventCallback callback);

#endif
