#include "platform/store/RegistryDocument.h"

#include <cstdio>

#include "platform/store/RegistryEscaping.h"

namespace platform {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr size_t kLineWidth = 80;

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsIgnoreAsciiCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses 1 to maxDigits hex digits making up all of s.
bool ParseHexNumber(std::string_view s, size_t maxDigits, uint32_t* out) {
    if (s.empty() || s.size() > maxDigits) return false;
    uint32_t v = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) return false;
        v = (v << 4) | uint32_t(d);
    }
    *out = v;
    return true;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool ParseByteList(std::string_view s, std::vector<uint8_t>* out, std::string* error) {
    out->clear();
    s = Trim(s);
    if (s.empty()) return true;
    size_t start = 0;
    while (true) {
        size_t comma = s.find(',', start);
        std::string_view token = Trim(s.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        uint32_t byte = 0;
        if (!ParseHexNumber(token, 2, &byte)) {
            *error = "bad byte \"" + std::string(token) + "\" in a hex list (expected two hex digits)";
            return false;
        }
        out->push_back(uint8_t(byte));
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

bool IsQuotableText(const std::vector<uint8_t>& data) {
    if (data.empty() || data.back() != 0) return false;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        unsigned char c = data[i];
        if (c != '\t' && IsControl(c)) return false;
    }
    return true;
}

void AppendHexList(std::string* out, size_t column, const std::vector<uint8_t>& data) {
    char piece[4];
    for (size_t i = 0; i < data.size(); ++i) {
        bool last = i + 1 == data.size();
        std::snprintf(piece, sizeof piece, last ? "%02x" : "%02x,", data[i]);
        size_t width = last ? 2 : 3;
        // Keep room for the continuation backslash after a comma.
        if (i > 0 && column + width + (last ? 0 : 1) > kLineWidth) {
            *out += "\\\n  ";
            column = 2;
        }
        *out += piece;
        column += width;
    }
}

}  // namespace

bool RegistryDocument::Parse(std::string_view text, RegistryKeys* out, int* errorLine, std::string* error) {
    out->keys.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    std::vector<std::string_view> lines;
    for (size_t start = 0; start <= text.size();) {
        size_t nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }

    auto fail = [&](size_t index, std::string why) {
        *errorLine = int(index + 1);
        *error = std::move(why);
        return false;
    };

    bool headerSeen = false;
    RegistryKeys::Key* current = nullptr;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = Trim(lines[i]);
        if (line.empty() || line.front() == ';') continue;
        if (!headerSeen) {
            if (line != kHeader) return fail(i, "expected the header line REGEDIT4");
            headerSeen = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') return fail(i, "key line without its closing ']'");
            std::string_view name = line.substr(1, line.size() - 2);
            if (!name.empty() && name.front() == '-') return fail(i, "key deletion lines ([-key]) are not supported");
            std::string why;
            if (!IsStorableKeyName(name, &why)) return fail(i, why);
            current = &out->AddKey(name);
            continue;
        }
        if (line.front() != '"' && line.front() != '@')
            return fail(i, "expected a [key] line or a \"Name\"=value line");
        if (!current) return fail(i, "value line before the first [key] line");

        std::string name, why;
        size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, &pos, &name, &why)) {
            return fail(i, "value name: " + why);
        }
        std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=') return fail(i, "expected '=' after the value name");
        rest = TrimLeft(rest.substr(1));

        RegValue value;
        if (rest.empty()) return fail(i, "value without data");
        if (rest.front() == '"') {
            std::string textValue;
            size_t p = 0;
            if (!ParseQuoted(rest, &p, &textValue, &why)) return fail(i, why);
            if (!Trim(rest.substr(p)).empty()) return fail(i, "unexpected text after the closing quote");
            value.type = RegType::String;
            value.data.assign(textValue.begin(), textValue.end());
            value.data.push_back(0);
        } else if (StartsWithIgnoreCase(rest, "dword:")) {
            uint32_t v = 0;
            if (!ParseHexNumber(Trim(rest.substr(6)), 8, &v)) return fail(i, "dword: needs 1 to 8 hex digits");
            value.type = RegType::Dword;
            value.data = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        } else if (StartsWithIgnoreCase(rest, "hex")) {
            std::string_view hexType = rest.substr(3);
            uint32_t type = uint32_t(RegType::Binary);
            if (!hexType.empty() && hexType.front() == '(') {
                size_t close = hexType.find(')');
                if (close == std::string_view::npos || !ParseHexNumber(hexType.substr(1, close - 1), 8, &type))
                    return fail(i, "hex(N): needs a hex type number N");
                hexType = hexType.substr(close + 1);
            }
            if (hexType.empty() || hexType.front() != ':') return fail(i, "expected ':' after hex");
            // Gather continuation lines (a trailing backslash joins the next line).
            size_t first = i;
            std::string list(TrimRight(hexType.substr(1)));
            while (!list.empty() && list.back() == '\\') {
                list.pop_back();
                if (++i >= lines.size()) return fail(first, "hex list continued past the end of the file");
                list += Trim(lines[i]);
                list = std::string(TrimRight(list));
            }
            if (!ParseByteList(list, &value.data, &why)) return fail(first, why);
            value.type = RegType(type);
        } else if (rest == "-") {
            return fail(i, "value deletion lines (\"Name\"=-) are not supported");
        } else {
            return fail(i, "unknown kind of data (expected \"text\", dword:, hex: or hex(N):)");
        }
        current->Set(name, std::move(value));
    }
    // A text of nothing but blank lines and comments (no header) is an empty store.
    return true;
}

std::string RegistryDocument::Serialize(const RegistryKeys& keys) {
    std::string out(kHeader);
    out += "\n\n";
    for (const auto& key : keys.keys) {
        out += '[';
        out += key.name;
        out += "]\n";
        for (const auto& v : key.values) {
            size_t lineStart = out.size();
            if (v.name.empty()) {
                out += '@';
            } else {
                out += '"';
                AppendEscaped(&out, v.name);
                out += '"';
            }
            out += '=';
            const RegValue& value = v.value;
            if (value.type == RegType::String && IsQuotableText(value.data)) {
                out += '"';
                AppendEscaped(&out, std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1));
                out += '"';
            } else if (value.type == RegType::Dword && value.data.size() == 4) {
                char buf[16];
                uint32_t d = uint32_t(value.data[0]) | uint32_t(value.data[1]) << 8 | uint32_t(value.data[2]) << 16 |
                             uint32_t(value.data[3]) << 24;
                std::snprintf(buf, sizeof buf, "dword:%08x", d);
                out += buf;
            } else {
                if (value.type == RegType::Binary) {
                    out += "hex:";
                } else {
                    char buf[24];
                    std::snprintf(buf, sizeof buf, "hex(%x):", unsigned(value.type));
                    out += buf;
                }
                AppendHexList(&out, out.size() - lineStart, value.data);
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

bool IsStorableKeyName(std::string_view name, std::string* why) {
    if (name.empty()) {
        *why = "empty key name";
        return false;
    }
    if (name.front() == '-') {
        *why = "a key name may not start with '-'";
        return false;
    }
    for (unsigned char c : name)
        if (IsControl(c)) {
            *why = "a key name may not hold control characters";
            return false;
        }
    return true;
}

bool IsStorableValueName(std::string_view name, std::string* why) {
    for (unsigned char c : name)
        if (IsControl(c)) {
            *why = "a value name may not hold control characters";
            return false;
        }
    return true;
}

}  // namespace platform
