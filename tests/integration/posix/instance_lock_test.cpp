#include "posix/instance_lock.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "shared/files.h"
#include "support/temp_dir.h"
#include "support/wait_for.h"

namespace zavren {
namespace {

TEST(InstanceLock, HolderIsNamedAndItsLockIsNotPassedToChildPrograms) {
    test::TempDir dir;
    const std::string path = dir / "ai.zavren.app.lock";
    // The write end closes at exec, so end-of-file tells us the exec has happened.
    int sync[2], release[2];
    ASSERT_EQ(::pipe2(sync, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileInstanceLock lock(path);
        char c = lock.acquire().acquired ? 'y' : 'n';
        (void)!::write(sync[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(sync[1]);
    char c = 0;
    ASSERT_EQ(::read(sync[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    FileInstanceLock mine(path);
    auto refused = mine.acquire();
    EXPECT_FALSE(refused.acquired);
    EXPECT_EQ(refused.others, std::vector<int>{child});

    (void)!::write(release[1], "x", 1);
    ASSERT_EQ(::read(sync[0], &c, 1), 0);
    // exec closes the pipe and the lock's descriptor in one step, in no promised
    // order: allow it a moment to finish.
    EXPECT_TRUE(test::waitFor([&] { return mine.acquire().acquired; }, std::chrono::seconds(2)))
        << "the exec'd program kept the lock";
    EXPECT_EQ(files::read(path), std::to_string(::getpid()) + "\n") << "whatever it said before";
    EXPECT_EQ(::kill(child, 0), 0) << "the child should still be running";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    for (int fd : {sync[0], release[0], release[1]}) ::close(fd);
}

}  // namespace
}  // namespace zavren
