// A settings file in a fresh temporary folder for one test: TAVREC_REGISTRY points
// at <folder>/registry.reg while the object lives; the folder is removed and the
// variable restored afterwards.
#pragma once

#include <string>

class TempRegistry {
public:
    TempRegistry();
    ~TempRegistry();
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    const std::string& Dir() const { return dir_; }
    const std::string& Path() const { return path_; }

    // Whole content of a file ("" when missing); Exists tells the two apart.
    static std::string ReadFile(const std::string& path);
    static bool Exists(const std::string& path);
    static void WriteFile(const std::string& path, const std::string& text);

    std::string Text() const { return ReadFile(path_); }
    void SetText(const std::string& text) const { WriteFile(path_, text); }

private:
    std::string dir_;
    std::string path_;
    bool hadPrevious_ = false;
    std::string previous_;
};
