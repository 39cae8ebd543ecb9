// ShowError: module mMain's error box, number, tag and the standard text.
#include "launcher/ShowError.h"

#include "platform/ErrorCatalogue.h"

namespace p2 {

void ShowError(Ports& ports, int32_t errorNumber, const std::string& tag) {
    ports.app.MessageBox(ErrorBoxText(errorNumber, tag), kStyleCritical);
}

}  // namespace p2
