// The target name taken from any argument text never leaves the program folder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "launcher/Main.h"
#include "platform/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool opensQuote = !text.empty() && text[0] == '"';
    const bool closesQuote = opensQuote && text.find('"', 1) != std::string::npos;
    std::string name;
    try {
        name = p2::TargetName(text);
    } catch (const p2::AppError& e) {
        // Only an opening quote without a closing one is refused, with "invalid argument".
        P2_FUZZ_CHECK(e.number() == p2::kErrInvalidArgument);
        P2_FUZZ_CHECK(opensQuote && !closesQuote);
        return 0;
    }
    P2_FUZZ_CHECK(!(opensQuote && !closesQuote));
    P2_FUZZ_CHECK(name.find('/') == std::string::npos);
    P2_FUZZ_CHECK(name.find('\\') == std::string::npos);
    // The name is the tail of the (unquoted) text: nothing is invented or reordered.
    const std::string inner = opensQuote ? text.substr(1, text.find('"', 1) - 1) : text;
    P2_FUZZ_CHECK(name.size() <= inner.size());
    P2_FUZZ_CHECK(inner.compare(inner.size() - name.size(), name.size(), name) == 0);
    // Nothing of the text is dropped but what lies up to a separator.
    const std::string dropped = inner.substr(0, inner.size() - name.size());
    P2_FUZZ_CHECK(dropped.empty() || dropped.back() == '/' || dropped.back() == '\\');
    return 0;
}
