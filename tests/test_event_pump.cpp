// The event pump: when a turn blocks, the order of messages and idle runs,
// the quit message, the slot rules of the table and its two messages, and
// nested turns.
#include "app/event_pump.h"
#include "app/fatal_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::HasSubstr;

namespace {

std::vector<std::string> events; // what happened, in order
HWND window;                     // the test window; its procedure logs WM_USER + n as "m<n>"
int pump_in_handler;             // message number whose handler turns the pump once more
void (*const default_message_hook)(MSG *) = message_hook;

void log(const std::string &what) {
    events.push_back(what);
}

LRESULT CALLBACK logging_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message >= WM_USER) {
        int n = static_cast<int>(message - WM_USER);
        log("m" + std::to_string(n));
        if (n == pump_in_handler)
            pump_messages(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

void post(int n) {
    ASSERT_TRUE(PostMessageA(window, WM_USER + static_cast<UINT>(n), 0, 0));
}

// Run by WaitMessage when the queue is empty: posts two messages.
void wake_with_two_messages() {
    log("wait");
    post(1);
    post(2);
}

int32_t idle_event() {
    log("idle");
    return 0;
}
int32_t busy_event() {
    log("busy");
    return 1;
}
int32_t other_event() {
    log("other");
    return 0;
}

class EventPump : public testing::Test {
  protected:
    void SetUp() override {
        memset(EventTable, 0, sizeof EventTable);
        quit_received = 0;
        message_hook = default_message_hook;
        quit_hook = [] { log("quit"); };
        headless_reset();
        events.clear();
        pump_in_handler = -1;
        WNDCLASSEXA window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = logging_proc;
        window_class.lpszClassName = "kmovPumpTest";
        RegisterClassExA(&window_class); // already there after the first test
        window = CreateWindowExA(0, "kmovPumpTest", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        DestroyWindow(window);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
};

// With no wait hook installed, a turn that called WaitMessage would abort
// the test: every case that must not block proves it by passing.
TEST_F(EventPump, BlocksOnlyWhenNothingWaitsNothingIsBusyAndWaitingIsAllowed) {
    struct Case {
        const char *name;
        int queued;            // messages posted before the turn
        EventCallback event;   // the one registered event, or null
        int may_wait;          //
        const char *happening; // events, space-separated
    };
    const Case cases[] = {
        {"empty table and queue, no waiting", 0, nullptr, 0, ""},
        {"empty table and queue, waiting: all that arrives", 0, nullptr, 1, "wait m1 m2"},
        {"idle event: once before the wait, once after", 0, idle_event, 1, "idle wait m1 m2 idle"},
        {"idle event, no waiting", 0, idle_event, 0, "idle"},
        {"busy event never lets it block", 0, busy_event, 1, "busy"},
        {"a waiting message: drain, then one scan", 1, idle_event, 1, "m1 idle"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (int i = 1; i <= c.queued; i++)
            post(i);
        if (c.event != nullptr)
            event_register(c.event);
        headless_set_wait_hook(c.may_wait && c.event != busy_event ? wake_with_two_messages
                                                                   : nullptr);
        EXPECT_EQ(pump_messages(c.may_wait), 1);
        std::string joined;
        for (const std::string &e : events)
            joined += (joined.empty() ? "" : " ") + e;
        EXPECT_EQ(joined, c.happening);
        TearDown();
        SetUp();
    }
}

// Events that ask to be woken: at clock 50 and 30, or 10 ms ago.
int32_t wakes_at_50() {
    log("w50@" + std::to_string(headless_time()));
    event_wake_at(50);
    return 1;
}
int32_t wakes_at_30() {
    log("w30@" + std::to_string(headless_time()));
    event_wake_at(30);
    return 1;
}
int32_t wakes_in_the_past() {
    log("past");
    event_wake_at(headless_time() - 10);
    return 1;
}

// A message that comes 5 ms into a timed wait.
void message_after_5_ms(uint32_t) {
    headless_advance_time(5);
    post(1);
}

TEST_F(EventPump, WaitsUntilTheEarliestWakeTimeOrAMessage) {
    struct Case {
        const char *name;
        std::vector<EventCallback> events;
        int may_wait;
        bool message_during_wait;
        const char *happening;
        uint32_t clock_after; // the clock starts at 20
    };
    const Case cases[] = {
        {"sleeps until the time asked, then runs the events again",
         {wakes_at_50},
         1,
         false,
         "w50@20 w50@50",
         50},
        {"the earliest of two times",
         {wakes_at_50, wakes_at_30},
         1,
         false,
         "w50@20 w30@20 w50@30 w30@30",
         30},
        {"a message ends the wait early", {wakes_at_50}, 1, true, "w50@20 m1 w50@25", 25},
        {"not without may_wait", {wakes_at_50}, 0, false, "w50@20", 20},
        {"a busy event keeps the turn from waiting",
         {wakes_at_50, busy_event},
         1,
         false,
         "w50@20 busy",
         20},
        {"a time already reached: no wait", {wakes_in_the_past}, 1, false, "past", 20},
        {"an idle event waits for a message as before",
         {wakes_at_50, idle_event},
         1,
         false,
         "w50@20 idle w50@50 idle",
         50},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        headless_set_time(20);
        for (EventCallback event : c.events)
            event_register(event);
        headless_set_timed_wait_hook(c.message_during_wait ? message_after_5_ms : nullptr);
        EXPECT_EQ(pump_messages(c.may_wait), 1);
        std::string joined;
        for (const std::string &e : events)
            joined += (joined.empty() ? "" : " ") + e;
        EXPECT_EQ(joined, c.happening);
        EXPECT_EQ(headless_time(), c.clock_after);
        TearDown();
        SetUp();
    }
}

TEST_F(EventPump, QuitEndsTheTurnAndEveryLaterOne) {
    post(1);
    post(2);
    PostQuitMessage(0);
    event_register(idle_event);
    EXPECT_EQ(pump_messages(1), 0);
    EXPECT_THAT(events, ElementsAre("m1", "m2", "quit", "idle"));
    EXPECT_EQ(quit_received, 1);

    // Later turns touch neither the queue nor the table.
    post(3);
    events.clear();
    EXPECT_EQ(pump_messages(1), 0);
    EXPECT_EQ(pump_messages(0), 0);
    EXPECT_THAT(events, ElementsAre());
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 3u);
}

int32_t replaces_itself() {
    log("replaces");
    event_delete(replaces_itself);
    event_register(other_event);
    return 0;
}

TEST_F(EventPump, SlotRules) {
    // A self-deleting event's slot stays taken until its run returns: its
    // replacement lands higher and so runs in the same scan.
    event_register(replaces_itself);
    pump_messages(0);
    EXPECT_THAT(events, ElementsAre("replaces", "other"));
    EXPECT_EQ(EventTable[0].callback, nullptr);
    EXPECT_EQ(EventTable[1].callback, other_event);
    event_register(idle_event);
    EXPECT_EQ(EventTable[0].callback, idle_event) << "free again once the run returned";
    EXPECT_EQ(EventTable[0].enabled, 1);

    // One function twice: two runs a scan; one delete clears the lower copy.
    event_delete(other_event);
    event_register(idle_event);
    events.clear();
    pump_messages(0);
    EXPECT_THAT(events, ElementsAre("idle", "idle"));
    event_delete(idle_event);
    EXPECT_EQ(EventTable[0].callback, nullptr);
    EXPECT_EQ(EventTable[1].callback, idle_event);
    events.clear();
    pump_messages(0);
    EXPECT_THAT(events, ElementsAre("idle"));
}

// "0x" and the callback's whole address in at least 8 lower-case digits.
std::string address(EventCallback callback) {
    char text[32];
    snprintf(text, sizeof text, "0x%08" PRIxPTR, reinterpret_cast<uintptr_t>(callback));
    return text;
}

void fill_table() {
    for (int i = 0; i < MAXEVENT; i++)
        event_register(idle_event);
}

TEST_F(EventPump, TableFullAndUnknownDeleteAreReported) {
    const std::string box = "MessageBoxA [Error] 0x00012010 ";
    EXPECT_EXIT(
        {
            fill_table();
            event_register(other_event);
        },
        testing::ExitedWithCode(1),
        HasSubstr(box + "イベント " + address(other_event) +
                  " を登録できません。MAXEVENTの値を増やしてください\n"));
    EXPECT_EXIT(
        event_delete(other_event), testing::ExitedWithCode(1),
        HasSubstr(box + "event_delete: イベント " + address(other_event) + " が見つかりません\n"));

    // While another failure is being shown fatal_error returns: the table
    // stays as it was.
    fill_table();
    fatal_error_shown = 1;
    event_register(other_event);
    event_delete(other_event);
    fatal_error_shown = 0;
    for (const EventSlot &slot : EventTable)
        EXPECT_EQ(slot.callback, idle_event);
}

int depth;
int32_t pumps_itself() {
    static int runs;
    EXPECT_EQ(depth, 0) << "re-entered";
    depth++;
    if (runs++ == 0) {
        log("outer");
        post(7); // its handler turns the pump again, inside this turn
        pump_messages(0);
        log("outer done");
    }
    depth--;
    return 0;
}

TEST_F(EventPump, NestedTurnsSkipTheEventOnTheStack) {
    pump_in_handler = 7;
    event_register(pumps_itself);
    event_register(other_event);
    EXPECT_EQ(pump_messages(0), 1);
    // outer -> its turn dispatches m7 -> m7's turn runs only "other", then
    // the event's own turn runs "other", then the outer scan reaches it.
    EXPECT_THAT(events, ElementsAre("outer", "m7", "other", "other", "outer done", "other"));
    EXPECT_EQ(EventTable[0].running, 0);
}

} // namespace
