#include "posix/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>
#include <csignal>

#include "shared/files.h"
#include "support/temp_dir.h"

namespace zavren {
namespace {

class InstanceLockTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::string path_ = dir_ / "ai.zavren.app.lock";
};

TEST_F(InstanceLockTest, SecondHolderIsRefusedWithTheFirstOnesPid) {
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileInstanceLock lock(path_);
        char c = lock.acquire().acquired ? 'y' : 'n';
        [[maybe_unused]] auto w = ::write(ready[1], &c, 1);
        [[maybe_unused]] auto r = ::read(release[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    FileInstanceLock second(path_);
    auto refused = second.acquire();
    EXPECT_FALSE(refused.acquired);
    EXPECT_EQ(refused.others, std::vector<int>{child});

    // Once the holder is gone, whatever its file says, the lock is free again.
    [[maybe_unused]] auto w = ::write(release[1], "x", 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    auto taken = second.acquire();
    EXPECT_TRUE(taken.acquired);
    EXPECT_EQ(files::read(path_), std::to_string(::getpid()) + "\n");
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

TEST_F(InstanceLockTest, LockIsNotPassedToChildPrograms) {
    // The write end closes at exec, so end-of-file tells us the exec has happened.
    int sync[2];
    ASSERT_EQ(::pipe2(sync, O_CLOEXEC), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(sync[0]);
        FileInstanceLock lock(path_);
        char c = lock.acquire().acquired ? 'y' : 'n';
        [[maybe_unused]] auto w = ::write(sync[1], &c, 1);
        ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(sync[1]);
    char c = 0;
    ASSERT_EQ(::read(sync[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    ASSERT_EQ(::read(sync[0], &c, 1), 0);

    // exec closes the pipe and the lock's descriptor in one step, in no promised
    // order: allow it a moment to finish.
    FileInstanceLock mine(path_);
    bool acquired = false;
    for (int attempt = 0; attempt < 200 && !acquired; ++attempt) {
        acquired = mine.acquire().acquired;
        if (!acquired) ::usleep(10000);
    }
    EXPECT_TRUE(acquired) << "the exec'd program kept the lock";
    EXPECT_EQ(::kill(child, 0), 0) << "the child should still be running";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(sync[0]);
}

}  // namespace
}  // namespace zavren
