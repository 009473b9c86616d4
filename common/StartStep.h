// Start-up steps that must fail cleanly when memory runs out.
//
// Allocation failure is std::bad_alloc everywhere; only a start-up step
// turns it into the false that names the step in "cannot start: ...". After
// start-up nothing catches it.
#pragma once

#include <new>
#include <utility>

// Runs step(); a std::bad_alloc thrown inside it reads as the step failing.
template <typename Step>
bool RunStartStep(Step&& step)
{
    try {
        return std::forward<Step>(step)();
    } catch (const std::bad_alloc&) {
        return false;
    }
}
