#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "TestSupport.h"
#include "app/Logfile.h"
#include "app/Strfunc.h"

using namespace tolm;

TEST(Entities, EscapeAndUnescapeRoundTrip) {
    EXPECT_EQ(EscapeText("a<=b, c"), "a&le;b&CO; c");
    EXPECT_EQ(UnescapeText("a&le;b&CO; c"), "a<=b, c");
    const std::string every = "& < > ' \" , <= >= <<= =>";
    EXPECT_EQ(EscapeText(every).find(','), std::string::npos);
    EXPECT_EQ(UnescapeText(EscapeText(every)), every);
    EXPECT_EQ(EscapeText(""), "");
}

TEST(Entities, IncompleteOrUnknownEntitiesStayAsTheyAre) {
    EXPECT_EQ(UnescapeText("&lt"), "&lt");
    EXPECT_EQ(UnescapeText("&foo; &amp"), "&foo; &amp");
    EXPECT_EQ(UnescapeText("&&amp;"), "&&");
    EXPECT_EQ(UnescapeText("&co;"), "&co;");  // entities are case-sensitive
}

TEST(Entities, LongTextsAreHandledWhole) {
    std::string longText(5000, ',');
    auto escaped = EscapeText(longText);
    EXPECT_EQ(escaped.size(), 5000u * 4);
    EXPECT_EQ(UnescapeText(escaped), longText);
}

TEST(Fields, FieldOfSplitsLikeAPath) {
    const std::string path = "C:\\FW\\A.BIN";
    EXPECT_EQ(FieldOf(path, '\\', 3), "A.BIN");
    EXPECT_EQ(FieldOf(path, ':', 2), "\\FW\\A.BIN");
    EXPECT_EQ(FieldOf(path, '\\', 5), "");
    EXPECT_EQ(FieldOf("abc", '/', 1), "abc");
    EXPECT_EQ(FieldOf("abc", '/', 2), "");
    EXPECT_EQ(FieldOf("a//b", '/', 2), "");
    EXPECT_EQ(FieldOf("a//b", '/', 3), "b");
    EXPECT_EQ(CountChar("/home/u/f.bin", '/'), 3);
}

TEST(Log, LinesAreAppendedWithCrLfInCallOrder) {
    test::TempDir dir;
    SetLogPath(dir.File("log.txt"));
    EXPECT_EQ(WriteLogLine("7E,7E,", 6), 0);
    EXPECT_EQ(WriteLogLine("abcdef", 3), 0);
    EXPECT_EQ(dir.Read("log.txt"), "7E,7E,\r\nabc\r\n");
    struct stat st{};
    ASSERT_EQ(stat(dir.File("log.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    SetLogPath(dir.File("missing/dir/log.txt"));
    EXPECT_EQ(WriteLogLine("x", 1), -1);
    SetLogPath("");
}

TEST(Log, DefaultPathIsPerUserStateDirectory) {
    test::TempDir dir;
    setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
    EXPECT_EQ(DefaultLogPath(), dir.Path() + "/tolm-upgrade/DUMMY.TXT");
    EXPECT_EQ(WriteLogLine("x"), 0);
    EXPECT_EQ(dir.Read("tolm-upgrade/DUMMY.TXT"), "x\r\n");
    unsetenv("XDG_STATE_HOME");
}

TEST(Log, NeverWritesThroughALinkAFifoOrAnotherUsersFolder) {
    test::TempDir dir;
    dir.Write("target", "kept");
    ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("link.txt").c_str()), 0);
    SetLogPath(dir.File("link.txt"));
    EXPECT_EQ(WriteLogLine("x"), -1);
    EXPECT_EQ(dir.Read("target"), "kept");
    ASSERT_EQ(mkfifo(dir.File("fifo.txt").c_str(), 0600), 0);
    SetLogPath(dir.File("fifo.txt"));
    EXPECT_EQ(WriteLogLine("x"), -1) << "and without waiting for a reader";
    SetLogPath("");

    // Without HOME the home comes from the password database, never a shared folder.
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    unsetenv("HOME");
    unsetenv("XDG_STATE_HOME");
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(DefaultLogPath(), std::string(pw->pw_dir) + "/.local/state/tolm-upgrade/DUMMY.TXT");
    setenv("HOME", home.c_str(), 1);

    // A state folder someone else made first (needs root to set up).
    if (geteuid() == 0) {
        setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
        ASSERT_EQ(mkdir(dir.File("tolm-upgrade").c_str(), 0777), 0);
        ASSERT_EQ(chown(dir.File("tolm-upgrade").c_str(), 65534, 65534), 0);
        EXPECT_EQ(WriteLogLine("x"), -1);
        EXPECT_NE(access(dir.File("tolm-upgrade/DUMMY.TXT").c_str(), F_OK), 0);
        unsetenv("XDG_STATE_HOME");
    }
}
