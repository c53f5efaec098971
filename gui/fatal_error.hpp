// Errors that end the program from a slot on the GUI thread.
//
// Qt's event dispatch is not built to pass exceptions: one that unwinds
// through it skips Qt's own clean-ups. So a GUI-thread slot runs its body
// through guarded(), which hands a standard exception to endWithError; the
// event loop then ends and the program's top-level handler raises the error
// again and reports it ("Critical error", exit status 1).
#pragma once

#include <exception>
#include <utility>

namespace romwright_gui {

// Keeps the first error and tells every running event loop of the GUI
// thread to end with status 1.
void endWithError(std::exception_ptr error);

// The kept error (null when there is none); forgets it.
std::exception_ptr takeFatalError();

template <typename Body>
void guarded(Body &&body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (const std::exception &) {
        endWithError(std::current_exception());
    }
}

} // namespace romwright_gui
