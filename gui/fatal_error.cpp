#include "fatal_error.hpp"

#include <QCoreApplication>

namespace romwright_gui {
namespace {

// Only the GUI thread reaches it.
std::exception_ptr &keptError() {
    static std::exception_ptr error;
    return error;
}

} // namespace

void endWithError(std::exception_ptr error) {
    if (!keptError())
        keptError() = std::move(error);
    QCoreApplication::exit(1);
}

std::exception_ptr takeFatalError() {
    return std::exchange(keptError(), nullptr);
}

} // namespace romwright_gui
