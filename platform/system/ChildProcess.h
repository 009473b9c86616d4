// Running code that may crash on hostile input in a child process first, so
// that a crash or a hang there costs a refusal instead of the program. Used
// for library parsers we cannot fix (assimp's .x reader crashes on some
// damaged files).
//
// The child is a fork of the caller: it sees the caller's memory as it was,
// and nothing it does reaches the caller except the number `body` returns.
// Only async-signal-safe code is strictly allowed after fork in a program
// with threads; `body` may allocate (glibc's allocator is safe across fork)
// but must not take locks that another thread could hold, log or touch SDL.
// Where fork does not exist the result is `Unavailable` and the caller runs
// the code in its own process.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace platform {

struct ChildResult {
    enum Outcome {
        Finished,     // `body` returned `value`
        Failed,       // the child crashed, was stopped by a sanitizer report, or ran past the limit
        Unavailable,  // no child could be started; `whyNot` says why
    };
    Outcome outcome = Unavailable;
    int value = 0;
    std::string whyNot;
};

// Runs `body` (which returns 0 ... 15) in a child process and waits at most
// `limit` for it; a child past the limit is killed.
ChildResult RunInChildProcess(const std::function<int()>& body, std::chrono::milliseconds limit);

}  // namespace platform
