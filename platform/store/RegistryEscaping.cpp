#include "platform/store/RegistryEscaping.h"

namespace platform {

bool ParseQuoted(std::string_view s, size_t* pos, std::string* out, std::string* error) {
    size_t i = *pos + 1;
    out->clear();
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= s.size()) break;
            char next = s[i + 1];
            if (next != '\\' && next != '"') {
                *error = std::string("unknown escape \\") + next + " (only \\\\ and \\\" are allowed)";
                return false;
            }
            out->push_back(next);
            i += 2;
            continue;
        }
        out->push_back(c);
        ++i;
    }
    *error = "text without its closing quote";
    return false;
}

void AppendEscaped(std::string* out, std::string_view text) {
    for (char c : text) {
        if (c == '\\' || c == '"') out->push_back('\\');
        out->push_back(c);
    }
}

}  // namespace platform
