// Command lines split by the Windows rules. The first byte picks the mode:
//  even: the rest is a raw command line; the split must be total and bounded;
//  odd:  the rest is a list of NUL-separated arguments, quoted as a Windows program quotes
//        them; splitting the joined line must give exactly the arguments back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "platform/posix/CommandLine_posix.h"

namespace {

// The quoting that CommandLineToArgvW undoes: backslashes double only before a quote.
std::string Quote(const std::string& argument, bool always) {
    if (!always && !argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

void RawLine(const std::string& line) {
    const std::vector<std::string> items = p2::posix::SplitCommandLine(line);
    const std::string visible = line.substr(0, line.find('\0'));
    P2_FUZZ_CHECK(items.empty() == visible.empty());
    std::size_t total = 0;
    for (const std::string& item : items) {
        total += item.size();
        P2_FUZZ_CHECK(item.find('\0') == std::string::npos);
    }
    P2_FUZZ_CHECK(total <= visible.size());
    // A quoted program name ends at the next quote; an unquoted one keeps its quotes.
    if (!visible.empty() && visible[0] == '"') {
        P2_FUZZ_CHECK(items[0].find('"') == std::string::npos);
    }
    // Arguments after the program are never empty unless they were quoted.
    for (std::size_t i = 1; i < items.size(); ++i) {
        P2_FUZZ_CHECK(!items[i].empty() || visible.find('"') != std::string::npos);
    }
}

void RoundTrip(const std::string& list, bool always) {
    std::vector<std::string> arguments;
    std::size_t at = 0;
    for (;;) {
        const auto end = list.find('\0', at);
        arguments.push_back(list.substr(at, end == std::string::npos ? end : end - at));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    // The program name is quoted without escapes, so it cannot hold a quote.
    std::string& program = arguments[0];
    std::erase(program, '"');
    std::string line = "\"" + program + "\"";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        line += ' ';
        line += Quote(arguments[i], always);
    }
    const std::vector<std::string> items = p2::posix::SplitCommandLine(line);
    P2_FUZZ_CHECK(items == arguments);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        RawLine(rest);
    } else {
        RoundTrip(rest, (data[0] & 2) != 0);
    }
    return 0;
}
