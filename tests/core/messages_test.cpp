#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <quillseal/quillseal.h>

namespace {

std::string fetch() {
    char buf[256];
    handle_error_message(buf, 0);
    return buf;
}

TEST(MessageSlot, FirstReportWinsUntilFetched) {
    fetch();
    handle_error_message(const_cast<char *>("first"), 1);
    handle_error_message(const_cast<char *>("second"), 1);
    EXPECT_EQ(fetch(), "first");
    EXPECT_EQ(fetch(), "first");  // the slot keeps its text
    handle_error_message(const_cast<char *>("third"), 1);
    EXPECT_EQ(fetch(), "third");
}

}  // namespace
