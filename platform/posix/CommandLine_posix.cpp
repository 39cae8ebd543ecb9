// Command lines as Windows reads and writes them, for the launcher's argument text and for
// starting Access by the command the registry holds.
#include "platform/posix/CommandLine_posix.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace p2::posix {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    // The Windows call sees a NUL-terminated string.
    std::string_view line(commandLine.c_str());
    std::vector<std::string> items;
    if (line.empty()) {
        return items;
    }
    std::size_t i = 0;
    // The program name: up to the next quote when quoted, else up to the next blank; no
    // backslash is special in it.
    std::string program;
    if (line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        program =
            line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
        i = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
        program = line.substr(0, i);
    }
    items.push_back(std::move(program));

    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (;;) {
        while (!quoted && i < line.size() && IsBlank(line[i])) {
            if (inArgument) {
                items.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        inArgument = true;
        const char c = line[i];
        if (c == '\\') {
            std::size_t count = 0;
            while (i < line.size() && line[i] == '\\') {
                ++count;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                current.append(count / 2, '\\');
                if (count % 2 == 1) {
                    current.push_back('"');
                    ++i;
                }
                // An even count leaves the quote to toggle quoting below.
            } else {
                current.append(count, '\\');
            }
        } else if (c == '"') {
            ++i;
            if (quoted && i < line.size() && line[i] == '"') {
                // A doubled quote inside quotes is a literal one, and quoting ends.
                current.push_back('"');
                ++i;
                quoted = false;
            } else {
                quoted = !quoted;
            }
        } else {
            current.push_back(c);
            ++i;
        }
    }
    if (inArgument) {
        items.push_back(std::move(current));
    }
    return items;
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
    std::string text;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (i > 0) {
            text.push_back(' ');
        }
        if (argument.empty() || argument.find_first_of(" \t") != std::string::npos) {
            text += '"' + argument + '"';
        } else {
            text += argument;
        }
    }
    return text;
}

}  // namespace p2::posix
