// fatal_error: one box titled "Error", exit code 1, a second call while the
// box is up returns, and formatting never leaves the buffer.
#include "app/fatal_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <cstring>
#include <string>

using testing::HasSubstr;

namespace {

void second_failure_while_the_box_is_up(const HeadlessMessageBox &) {
    fatal_error("second %d", 2);
    // Reaching this line means the second call returned.
    fprintf(stderr, "second call returned; boxes %zu\n", headless_message_boxes().size());
}

TEST(FatalErrorDeath, ShowsOneBoxAndExitsWithCodeOne) {
    EXPECT_EXIT(fatal_error("CreateDIBSection %d", 8), testing::ExitedWithCode(1),
                HasSubstr("MessageBoxA [Error] 0x00012010 CreateDIBSection 8\n"));
}

TEST(FatalErrorDeath, ASecondCallWhileTheBoxIsUpReturnsAtOnce) {
    EXPECT_EXIT(
        {
            headless_set_message_box_hook(second_failure_while_the_box_is_up);
            fatal_error("first");
        },
        testing::ExitedWithCode(1),
        testing::AllOf(HasSubstr("MessageBoxA [Error] 0x00012010 first\nsecond call returned; "
                                 "boxes 1\n"),
                       testing::Not(HasSubstr("second 2"))));
}

std::string format(size_t size, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
std::string format(size_t size, const char *fmt, ...) {
    std::string buffer(size + 16, '#');
    va_list arguments;
    va_start(arguments, fmt);
    fatal_error_format(buffer.data(), size, fmt, arguments);
    va_end(arguments);
    EXPECT_EQ(buffer.substr(size), std::string(16, '#')) << "wrote past the buffer";
    return std::string(buffer.c_str());
}

TEST(FatalError, FormattingStaysInsideTheBuffer) {
    EXPECT_EQ(format(64, "%s: %d", "name", 3), "name: 3");
    std::string long_name(5000, 'a');
    EXPECT_EQ(format(FATAL_ERROR_TEXT_SIZE, "%s: x", long_name.c_str()).size(),
              FATAL_ERROR_TEXT_SIZE - 1u);
    // "オ" is two bytes (0x83 0x49): a cut never keeps its lead byte alone.
    EXPECT_EQ(format(4, "aaオ"), "aa");
    EXPECT_EQ(format(5, "aaオ"), "aaオ");
    EXPECT_EQ(format(4, "ｱｲｳｴ"), "ｱｲｳ") << "half-width katakana are one byte each";
    EXPECT_EQ(format(1, "anything"), "");
}

} // namespace
