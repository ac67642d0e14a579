#include "tests/support/TempRegistry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

TempRegistry::TempRegistry() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavrec-registry-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    dir_ = pattern;
    path_ = dir_ + "/registry.reg";
    if (const char* prev = std::getenv("TAVREC_REGISTRY")) {
        hadPrevious_ = true;
        previous_ = prev;
    }
    setenv("TAVREC_REGISTRY", path_.c_str(), 1);
}

TempRegistry::~TempRegistry() {
    if (hadPrevious_)
        setenv("TAVREC_REGISTRY", previous_.c_str(), 1);
    else
        unsetenv("TAVREC_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string TempRegistry::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TempRegistry::Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void TempRegistry::WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}
