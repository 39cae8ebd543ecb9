// The handler pattern of every procedure that reports its own failures, in one place.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

#include "platform/Error.h"

namespace p2 {

// A procedure's handler, armed on entry. A procedure may switch it off for the rest of its
// call; from then on a failure passes on to its caller's handler.
class HandlerSwitch {
  public:
    bool Armed() const { return armed_; }
    void SwitchOff() { armed_ = false; }

  private:
    bool armed_ = true;
};

// Runs `body`. A failure stops it where it is and is handed to `report` with its number;
// the procedure's result keeps whatever the body had assigned so far. Once `handler` is
// switched off a failure passes on to the caller instead.
template <class Body, class Report>
void WithHandler(Body&& body, Report&& report, const HandlerSwitch& handler) {
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& e) {
        if (!handler.Armed()) {
            throw;
        }
        report(ErrorNumberOf(e));
    }
}

template <class Body, class Report>
void WithHandler(Body&& body, Report&& report) {
    const HandlerSwitch armed;
    WithHandler(std::forward<Body>(body), std::forward<Report>(report), armed);
}

// Runs one step with failures suppressed and answers the error number it left: 0 when it
// succeeded.
template <class Step>
int32_t ErrorOf(Step&& step) {
    try {
        std::forward<Step>(step)();
        return 0;
    } catch (const std::exception& e) {
        return ErrorNumberOf(e);
    }
}

}  // namespace p2
