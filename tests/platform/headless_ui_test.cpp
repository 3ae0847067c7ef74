// The headless service's status bar: what reaches standard error.
#include "platform/headless_ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kestrel {
namespace {

std::string Contents(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    return text;
}

TEST(HeadlessStatusBar, EachNewPanelTextIsOneLineOnStandardErrorOncePerChange) {
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    MemoryStatusBar bar(err);
    bar.SetPanel(3, "Mail server refused the login");
    bar.SetPanel(3, "Mail server refused the login");  // the next poll says it again
    bar.SetPanel(4, "Cannot write log file /var/log/x.log");
    bar.SetPanel(3, "");  // cleared: nothing to report
    bar.SetPanel(2, " ");
    bar.SetPanel(3, "Mail server refused the login");
    bar.SetPanel(2, "two\r\nlines");
    EXPECT_EQ(Contents(err),
              "[panel 3] Mail server refused the login\n"
              "[panel 4] Cannot write log file /var/log/x.log\n"
              "[panel 3] Mail server refused the login\n"
              "[panel 2] two / lines\n");
    EXPECT_EQ(bar.Panel(4), "Cannot write log file /var/log/x.log");
    std::fclose(err);

    MemoryStatusBar quiet;  // without an echo stream nothing is written
    quiet.SetPanel(4, "x");
    EXPECT_EQ(quiet.Panel(4), "x");
}

}  // namespace
}  // namespace kestrel
