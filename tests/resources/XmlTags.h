// Just enough XML for the tests: the start tags of a document, in order, with their
// attributes and the text that follows each, comments, declarations and end tags skipped.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace p2::test {

struct XmlTag {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;  // up to the next tag
};

inline std::vector<XmlTag> XmlStartTags(const std::string& doc) {
    std::vector<XmlTag> tags;
    std::size_t pos = 0;
    while ((pos = doc.find('<', pos)) != std::string::npos) {
        if (doc.compare(pos, 4, "<!--") == 0) {
            pos = doc.find("-->", pos);
            continue;
        }
        const std::size_t close = doc.find('>', pos);
        if (close == std::string::npos) {
            break;
        }
        const char first = pos + 1 < doc.size() ? doc[pos + 1] : '/';
        if (first == '/' || first == '?' || first == '!') {
            pos = close;
            continue;
        }
        XmlTag tag;
        std::size_t p = pos + 1;
        while (p < close && doc[p] != ' ' && doc[p] != '\t' && doc[p] != '\r' && doc[p] != '\n' &&
               doc[p] != '/') {
            tag.name += doc[p++];
        }
        for (;;) {
            const std::size_t eq = doc.find('=', p);
            if (eq == std::string::npos || eq > close) {
                break;
            }
            std::string attr = doc.substr(p, eq - p);
            attr.erase(0, attr.find_first_not_of(" \t\r\n"));
            attr.erase(attr.find_last_not_of(" \t\r\n") + 1);
            const char quote = doc[eq + 1];
            const std::size_t end = doc.find(quote, eq + 2);
            if (end == std::string::npos) {
                break;
            }
            tag.attributes[attr] = doc.substr(eq + 2, end - eq - 2);
            p = end + 1;
        }
        const std::size_t next = doc.find('<', close);
        if (doc[close - 1] != '/') {
            tag.text = doc.substr(close + 1,
                                  next == std::string::npos ? std::string::npos : next - close - 1);
        }
        tags.push_back(std::move(tag));
        pos = close;
    }
    return tags;
}

}  // namespace p2::test
