// Signals while the flash is changed: held, not obeyed, until the hold ends;
// a crash of the process itself still ends it.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/signal_hold.h"

namespace kestrel {
namespace {

// Runs body in a child process; its wait status.
template <class Body>
int InChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST(SignalHold, SignalsThatWouldEndTheProcessWaitForTheEndOfTheHold) {
    const int status = InChild([] {
        std::vector<int> held;
        {
            SignalHold hold;
            for (const int s : {SIGUSR1, SIGTERM, SIGHUP, SIGALRM, SIGQUIT, SIGRTMIN + 3, SIGUSR1})
                ::kill(::getpid(), s);
            held = hold.Release();
        }
        const std::vector<int> expected = {SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGTERM, SIGRTMIN + 3};
        if (held != expected) ::_exit(10);
        if (SignalNames({SIGUSR1, SIGRTMIN + 3}) != "SIGUSR1, SIGRTMIN+3") ::_exit(11);
        // The earlier (default) action is back: the held one now ends it.
        RaiseHeldSignals({SIGUSR1});
        ::_exit(12);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGUSR1);
}

TEST(SignalHold, AnIgnoredOrHandledSignalIsLeftAsItWas) {
    const int status = InChild([] {
        ::signal(SIGUSR2, SIG_IGN);
        {
            SignalHold hold;
            ::kill(::getpid(), SIGUSR2);
            if (!hold.Release().empty()) ::_exit(10);
        }
        struct sigaction now {};
        ::sigaction(SIGUSR2, nullptr, &now);
        ::_exit(now.sa_handler == SIG_IGN ? 0 : 11);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SignalHold, AFaultOfTheProcessStillEndsIt) {
    const int status = InChild([] {
        SignalHold hold;
        // A page that faults on write: no null store for the undefined
        // behaviour check to stop first, and the default action rather
        // than a sanitizer's handler, which would turn the fault into an exit.
        void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) ::_exit(12);
        ::signal(SIGSEGV, SIG_DFL);
        *static_cast<volatile int*>(page) = 1;
        ::_exit(10);
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
}

}  // namespace
}  // namespace kestrel
