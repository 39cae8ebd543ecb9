// The number a failure stands for: its own, or the run-time error a standard-library failure
// is reported as, so that no exception escapes the handlers unreported.
#include "platform/Error.h"

#include <new>
#include <stdexcept>

namespace p2 {

int32_t ErrorNumberOf(const std::exception& e) noexcept {
    if (const auto* app = dynamic_cast<const AppError*>(&e)) {
        return app->number();
    }
    if (dynamic_cast<const std::bad_alloc*>(&e)) {
        return kErrOutOfMemory;
    }
    if (dynamic_cast<const std::overflow_error*>(&e)) {
        return kErrOverflow;
    }
    if (dynamic_cast<const std::logic_error*>(&e)) {
        return kErrInvalidArgument;
    }
    return kErrInternal;
}

}  // namespace p2
