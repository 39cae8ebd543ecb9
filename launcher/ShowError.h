// The error box of module mMain and the handler that shows it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/Handler.h"
#include "platform/ports/Ports.h"

namespace p2 {

// Shows number, tag and standard text in a stop box; returns when it is dismissed.
void ShowError(Ports& ports, int32_t errorNumber, const std::string& tag);

// Runs a procedure's body under the mMain handler with `tag`.
template <class Body>
void Guarded(Ports& ports, const std::string& tag, Body&& body, const HandlerSwitch& handler) {
    WithHandler(
        std::forward<Body>(body), [&](int32_t number) { ShowError(ports, number, tag); }, handler);
}

template <class Body>
void Guarded(Ports& ports, const std::string& tag, Body&& body) {
    const HandlerSwitch armed;
    Guarded(ports, tag, std::forward<Body>(body), armed);
}

}  // namespace p2
