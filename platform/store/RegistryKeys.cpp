#include "platform/store/RegistryKeys.h"

#include <algorithm>

namespace platform {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

RegistryKeys::NamedValue* RegistryKeys::Key::Find(std::string_view valueName) {
    for (auto& v : values)
        if (EqualsIgnoreAsciiCase(v.name, valueName)) return &v;
    return nullptr;
}

const RegistryKeys::NamedValue* RegistryKeys::Key::Find(std::string_view valueName) const {
    return const_cast<Key*>(this)->Find(valueName);
}

void RegistryKeys::Key::Set(std::string_view valueName, RegValue value) {
    if (NamedValue* v = Find(valueName)) {
        v->value = std::move(value);
        return;
    }
    values.push_back({std::string(valueName), std::move(value)});
}

bool RegistryKeys::Key::Remove(std::string_view valueName) {
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const NamedValue& v) { return EqualsIgnoreAsciiCase(v.name, valueName); });
    if (it == values.end()) return false;
    values.erase(it);
    return true;
}

RegistryKeys::Key* RegistryKeys::FindKey(std::string_view name) {
    for (auto& k : keys)
        if (EqualsIgnoreAsciiCase(k.name, name)) return &k;
    return nullptr;
}

const RegistryKeys::Key* RegistryKeys::FindKey(std::string_view name) const {
    return const_cast<RegistryKeys*>(this)->FindKey(name);
}

bool RegistryKeys::HasKeyOrDescendant(std::string_view name) const {
    for (const auto& k : keys) {
        std::string_view n = k.name;
        if (EqualsIgnoreAsciiCase(n, name)) return true;
        if (n.size() > name.size() && n[name.size()] == '\\' && EqualsIgnoreAsciiCase(n.substr(0, name.size()), name))
            return true;
    }
    return false;
}

RegistryKeys::Key& RegistryKeys::AddKey(std::string_view name) {
    if (Key* k = FindKey(name)) return *k;
    keys.push_back({std::string(name), {}});
    return keys.back();
}

}  // namespace platform
