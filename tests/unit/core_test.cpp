// Locks, the extra thread, time, the frame-ready gate and the command line.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>

#include "app/command_line.h"
#include "core/client_text.h"
#include "core/frame_notice.h"
#include "core/sys.h"

namespace {

struct Counter {
    Lock lock;
    long total = 0;
    std::atomic<int> release{0}, finished{0};
};

unsigned long count_up(void* raw) {
    Counter* c = static_cast<Counter*>(raw);
    for (int i = 0; i < 200000; i++) {
        lock_enter(&c->lock);
        long seen = c->total;
        c->total = seen + 1;
        lock_leave(&c->lock);
    }
    return 0;
}

unsigned long wait_for_release(void* raw) {
    Counter* c = static_cast<Counter*>(raw);
    for (uint32_t start = tick_count(); !c->release.load() && tick_count() - start < 10000;) sleep_ms(1);
    c->finished.store(1);
    return 0;
}

}  // namespace

TEST(Sys, ThreadsLocksAndTime) {
    static Counter counter;
    lock_init(&counter.lock);
    uintptr_t first = thread_start(count_up, &counter), second = thread_start(count_up, &counter);
    ASSERT_NE(first * second, 0u);
    EXPECT_EQ(thread_join(first, 60000) + thread_join(second, 60000), 2);
    EXPECT_EQ(counter.total, 400000);  // no update lost
    uintptr_t waiting = thread_start(wait_for_release, &counter);
    EXPECT_EQ(thread_join(waiting, 20) + counter.finished.load(), 0);  // gives up; the thread goes on
    counter.release.store(1);
    for (uint32_t start = tick_count(); !counter.finished.load() && tick_count() - start < 10000;) sleep_ms(1);
    EXPECT_EQ(counter.finished.load(), 1);
    uint32_t before = tick_count();
    sleep_ms(60);
    EXPECT_GE(tick_count() - before, 40u);  // Windows ticks move in steps of up to 16 ms
}

TEST(FrameNotice, OneNoticePendingUntilTaken) {
    frame_notice_taken();
    EXPECT_EQ(frame_notice_claim(), 1);
    for (int i = 0; i < 100; i++) EXPECT_EQ(frame_notice_claim(), 0);
    frame_notice_taken();
    EXPECT_EQ(frame_notice_claim(), 1);
    frame_notice_unclaim();  // the post failed: the next frame tries again
    EXPECT_EQ(frame_notice_claim(), 1);
    frame_notice_taken();
}

TEST(CommandLine, ArgumentsFollowTheProgramName) {
    const char* const cases[][2] = {
        {"C:\\QV\\QUORVANE.EXE 192.168.1.5", "192.168.1.5"},
        {"\"C:\\Program Files\\QV\\quorvane.exe\" server.lan", "server.lan"},
        {"quorvane.exe  \t host", "host"},      // every blank after the name goes
        {"quorvane.exe host  ", "host  "},      // blanks at the end stay
        {"quorvane.exe a b", "a b"},
        {"\"quorvane.exe\"host", "host"},       // a closing quote ends the name
        {"\"C:\\My Games\\q.exe\"\thost", "host"}, {"quorvane.exe \"quoted host\"", "\"quoted host\""},
        {"quorvane.exe   ", ""}, {"\"C:\\a b\\quorvane.exe\"  ", ""}, {"", ""}, {"\"never closed host", ""}, {"\"", ""},
    };
    for (const auto& c : cases) EXPECT_STREQ(command_line_arguments(c[0]), c[1]) << c[0];
    EXPECT_STREQ(command_line_arguments(nullptr), "");
    const char line[] = "\"C:\\q.exe\" 10.0.0.1";  // the system's own text, not a copy
    EXPECT_EQ(command_line_arguments(line), line + 11);
}

TEST(ClientText, TheOwnFormatterCutsToFitAndTerminates) {
    char out[40] = "k";
    std::string got;
    auto take = [&](int n) { got += std::to_string(n) + ":" + out + "|"; };
    take(format_text(out, 0, "x"));  // no room: nothing written
    take(format_text(out, 40, "%s%s %d %d%d %u", "ab", nullptr, -12, INT_MIN, 0, 4294967295u));  // null: empty
    take(format_text(out, 40, "%x %lu %% %q %", 0xbeefu, 4000000000ul));  // an unknown % stays as it is
    take(format_text(out, 6, "%d", 1234567));
    text_load(out, 6, "abcde");  // the shared texts: one that fills its field exactly,
    take(5);
    text_store(out, 6, "ABCDEFG");  // and one cut to it
    take(5);
    text_store(out, 0, "x");  // no field at all: nothing written
    take(0);
    EXPECT_EQ(got, "0:k|30:ab -12 -21474836480 4294967295|22:beef 4000000000 % %q %|5:12345|5:abcde|5:ABCDE|0:ABCDE|");
}
