// links: tavrec_settings tavrec_support_TempRegistry
// The registry-format settings store: the file's text, parsing, errors with line
// numbers, atomic replacement and what reading leaves alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/store/SettingsStore.h"
#include "tests/support/TempRegistry.h"

using platform::SettingsStore;

namespace {

constexpr const char* kKey = "\\SOFTWARE\\KELDAN\\TAVREC";

struct EnvGuard {
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) had_ = true, value_ = v;
    }
    ~EnvGuard() {
        if (had_)
            setenv(name_, value_.c_str(), 1);
        else
            unsetenv(name_);
    }
    const char* name_;
    bool had_ = false;
    std::string value_;
};

std::unique_ptr<SettingsStore> OpenTavrecKey(bool create = true) {
    auto store = std::make_unique<SettingsStore>();
    store->SetRootKey("HKEY_LOCAL_MACHINE");
    EXPECT_TRUE(store->OpenKey(kKey, create)) << store->LastError();
    return store;
}

}  // namespace

TEST(SettingsStorePath, EnvironmentChoosesTheFile) {
    EnvGuard reg("TAVREC_REGISTRY"), xdg("XDG_CONFIG_HOME"), home("HOME");
    setenv("HOME", "/home/someone", 1);
    unsetenv("TAVREC_REGISTRY");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsStore::DefaultPath(), "/home/someone/.config/tavrec/registry.reg");
    setenv("XDG_CONFIG_HOME", "/elsewhere/conf", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/elsewhere/conf/tavrec/registry.reg");
    // A relative XDG_CONFIG_HOME is not to be used.
    setenv("XDG_CONFIG_HOME", "relative/conf", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/home/someone/.config/tavrec/registry.reg");
    setenv("TAVREC_REGISTRY", "/tmp/x/other.reg", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/tmp/x/other.reg");
    setenv("TAVREC_REGISTRY", "", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/home/someone/.config/tavrec/registry.reg");
}

TEST(SettingsStoreFormat, WritesRegeditTextAndReadsItBack) {
    TempRegistry reg;
    {
        auto store = OpenTavrecKey();
        ASSERT_TRUE(store->WriteDword("Size", 0xDEADBEEF));
        ASSERT_TRUE(store->WriteBinary("Word", "\x01\x00\x00\x00", 4));
        ASSERT_TRUE(store->WriteString("Path", "C:\\rec\\\"quoted\" ünïcode"));
        ASSERT_TRUE(store->WriteString("Empty", ""));
        ASSERT_TRUE(store->WriteBinary("Nothing", "", 0));
        std::vector<uint8_t> thirty(30);
        for (size_t i = 0; i < thirty.size(); ++i) thirty[i] = uint8_t(0xA0 + i);
        ASSERT_TRUE(store->WriteBinary("LongBinaryValueName", thirty.data(), thirty.size()));
        EXPECT_FALSE(store->WriteString("Two\nLines", "x"));  // names cannot hold line breaks
        EXPECT_EQ(store->LastErrorKind(), SettingsStore::ErrorKind::BadName);
        ASSERT_TRUE(store->WriteString("Multi", "line one\nline two"));
        ASSERT_TRUE(store->WriteString("", "default"));
        ASSERT_TRUE(store->WriteDword("size", 7));  // names ignore letter case: replaces "Size" in place
    }
    const std::string expected =
        "REGEDIT4\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\n"
        "\"Size\"=dword:00000007\n"
        "\"Word\"=hex:01,00,00,00\n"
        "\"Path\"=\"C:\\\\rec\\\\\\\"quoted\\\" ünïcode\"\n"
        "\"Empty\"=\"\"\n"
        "\"Nothing\"=hex:\n"
        "\"LongBinaryValueName\"=hex:a0,a1,a2,a3,a4,a5,a6,a7,a8,a9,aa,ab,ac,ad,ae,af,b0,\\\n"
        "  b1,b2,b3,b4,b5,b6,b7,b8,b9,ba,bb,bc,bd\n"
        "\"Multi\"=hex(1):6c,69,6e,65,20,6f,6e,65,0a,6c,69,6e,65,20,74,77,6f,00\n"
        "@=\"default\"\n"
        "\n";
    EXPECT_EQ(reg.Text(), expected);
    // No line of the file is wider than regedit's 80 columns.
    size_t start = 0;
    const std::string text = reg.Text();
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        EXPECT_LE(nl - start, 80u) << text.substr(start, nl - start);
        start = nl + 1;
    }

    auto store = OpenTavrecKey(false);
    uint32_t d = 0;
    std::string s;
    std::vector<uint8_t> b;
    EXPECT_TRUE(store->ReadDword("SIZE", &d));
    EXPECT_EQ(d, 7u);
    EXPECT_TRUE(store->ReadString("Path", &s));
    EXPECT_EQ(s, "C:\\rec\\\"quoted\" ünïcode");
    EXPECT_TRUE(store->ReadString("Multi", &s));
    EXPECT_EQ(s, "line one\nline two");
    EXPECT_TRUE(store->ReadString("", &s));
    EXPECT_EQ(s, "default");
    EXPECT_TRUE(store->ReadBinary("Nothing", &b));
    EXPECT_TRUE(b.empty());
    EXPECT_TRUE(store->ReadBinary("LongBinaryValueName", &b));
    ASSERT_EQ(b.size(), 30u);
    EXPECT_EQ(b[29], 0xBD);
    EXPECT_EQ(store->ValueNames(),
              (std::vector<std::string>{"Size", "Word", "Path", "Empty", "Nothing", "LongBinaryValueName", "Multi", ""}));
    // Types are kept exactly: no reading across them.
    EXPECT_FALSE(store->ReadDword("Word", &d));
    EXPECT_EQ(store->LastErrorKind(), SettingsStore::ErrorKind::WrongType);
    EXPECT_FALSE(store->ReadBinary("Size", &b));
    EXPECT_FALSE(store->ReadString("Word", &s));
    EXPECT_FALSE(store->ReadDword("Missing", &d));
    EXPECT_EQ(store->LastErrorKind(), SettingsStore::ErrorKind::NotFound);
}

TEST(SettingsStoreFormat, AcceptsHandWrittenAndRegeditVariants) {
    TempRegistry reg;
    // A byte-order mark, CR LF line ends, comments, upper-case digits, a hex list
    // continued over lines, other value types, a key given twice, names in other case.
    reg.SetText(
        "\xEF\xBB\xBFREGEDIT4\r\n"
        "\r\n"
        "; written by hand\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n"
        "\"Number\" = DWORD:0000ABCD\r\n"
        "\"List\"=hex:01,02,\\\r\n"
        "    03,04\r\n"
        "\"Expand\"=hex(2):25,48,4f,4d,45,25,00\r\n"
        "\r\n"
        "[hkey_local_machine\\software\\keldan\\tavrec]\r\n"
        "\"Later\"=\"second section\"\r\n");
    auto store = OpenTavrecKey(false);
    uint32_t d = 0;
    std::vector<uint8_t> b;
    std::string s;
    EXPECT_TRUE(store->ReadDword("number", &d));
    EXPECT_EQ(d, 0xABCDu);
    EXPECT_TRUE(store->ReadBinary("List", &b));
    EXPECT_EQ(b, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(store->ReadString("Expand", &s));  // REG_EXPAND_SZ reads as text
    EXPECT_EQ(s, "%HOME%");
    EXPECT_TRUE(store->ReadString("Later", &s));
    EXPECT_EQ(s, "second section");

    // A write keeps every other value with its type.
    ASSERT_TRUE(store->WriteDword("Number", 1));
    EXPECT_EQ(reg.Text(),
              "REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\n"
              "\"Number\"=dword:00000001\n"
              "\"List\"=hex:01,02,03,04\n"
              "\"Expand\"=hex(2):25,48,4f,4d,45,25,00\n"
              "\"Later\"=\"second section\"\n\n");
}

TEST(SettingsStoreFormat, BrokenLinesAreReportedWithTheirNumberAndNeverOverwritten) {
    struct Case {
        const char* text;
        int line;
        const char* reason;
    };
    const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\n\"Good\"=dword:00000001\n";
    const Case cases[] = {
        {"\"FPS\"=dword:1234567890\n", 5, "dword"},
        {"\"FPS\"=dword:xyz\n", 5, "dword"},
        {"\"FPS\"=hex:01,0g,00\n", 5, "0g"},
        {"\"FPS\"=hex:01,100\n", 5, "100"},
        {"\"Name\"=\"no closing quote\n", 5, "closing quote"},
        {"\"Name\"=\"bad \\n escape\"\n", 5, "escape"},
        {"\"Name\"=\"text\" trailing\n", 5, "after the closing quote"},
        {"\"Name\" 12\n", 5, "'='"},
        {"\"Name\"=-\n", 5, "deletion"},
        {"\"Name\"=word:1\n", 5, "unknown kind"},
        {"Name=dword:1\n", 5, "expected a [key]"},
        {"[HKEY_LOCAL_MACHINE\\SOFTWARE\n", 5, "']'"},
        {"[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n", 5, "deletion"},
        {"\n\n\"List\"=hex:01,\\\n  02,zz\n", 7, "zz"},
        // A continuation joins the next line, and the value's first line is named.
        {"\"List\"=hex:01,\\\n", 5, "\"After\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TempRegistry reg;
        const std::string original = head + c.text + "\"After\"=dword:00000002\n";
        reg.SetText(original);
        SettingsStore store;
        store.SetRootKey("HKEY_LOCAL_MACHINE");
        EXPECT_FALSE(store.OpenKey(kKey, true));
        EXPECT_EQ(store.LastErrorKind(), SettingsStore::ErrorKind::Parse);
        EXPECT_EQ(store.ParseErrorLine(), c.line);
        EXPECT_NE(store.LastError().find("line " + std::to_string(c.line) + ":"), std::string::npos) << store.LastError();
        EXPECT_NE(store.LastError().find(reg.Path()), std::string::npos) << store.LastError();
        EXPECT_NE(store.LastError().find(c.reason), std::string::npos) << store.LastError();
        EXPECT_FALSE(store.WriteDword("Good", 5));
        EXPECT_EQ(reg.Text(), original);
        EXPECT_FALSE(TempRegistry::Exists(reg.Path() + ".tmp"));
    }

    // Header problems, and a file in another format.
    for (auto [text, line] : std::vector<std::pair<std::string, int>>{
             {"[HKEY_LOCAL_MACHINE\\X]\n", 1},
             {"\n\nWindows Registry Editor Version 5.00\n", 3},
             {"REGEDIT4\n\"Value\"=dword:00000001\n", 2},
             {"REGEDIT4\n[K]\n\"List\"=hex:01,\\\n", 3},
         }) {
        TempRegistry reg;
        reg.SetText(text);
        SettingsStore store;
        EXPECT_FALSE(store.OpenKey("\\SOFTWARE", true));
        EXPECT_EQ(store.ParseErrorLine(), line) << text;
        EXPECT_EQ(reg.Text(), text);
    }
}

TEST(SettingsStoreFiles, ReadingLeavesTheFileAlone) {
    TempRegistry reg;
    {
        auto store = OpenTavrecKey();
        ASSERT_TRUE(store->WriteDword("A", 1));
        ASSERT_TRUE(store->WriteString("B", "two"));
    }
    ASSERT_EQ(::unlink((reg.Path() + ".lock").c_str()), 0);
    const std::string before = reg.Text();
    struct stat st0, st1;
    ASSERT_EQ(::stat(reg.Path().c_str(), &st0), 0);
    {
        auto store = OpenTavrecKey(true);  // exists: opening with create writes nothing
        uint32_t d;
        std::string s;
        EXPECT_TRUE(store->ValueExists("A"));
        EXPECT_FALSE(store->ValueExists("C"));
        EXPECT_TRUE(store->ReadDword("A", &d));
        EXPECT_TRUE(store->ReadString("B", &s));
        EXPECT_FALSE(store->DeleteValue("C"));
        EXPECT_TRUE(store->KeyExists("\\SOFTWARE\\KELDAN"));  // a parent of a stored key
        EXPECT_FALSE(store->KeyExists("\\SOFTWARE\\OTHER"));
        SettingsStore other;
        other.SetRootKey("HKEY_LOCAL_MACHINE");
        EXPECT_FALSE(other.OpenKey("\\SOFTWARE\\OTHER", false));
        EXPECT_EQ(other.LastErrorKind(), SettingsStore::ErrorKind::NotFound);
    }
    ASSERT_EQ(::stat(reg.Path().c_str(), &st1), 0);
    EXPECT_EQ(reg.Text(), before);
    EXPECT_EQ(st0.st_ino, st1.st_ino);
    EXPECT_EQ(st0.st_mtim.tv_sec, st1.st_mtim.tv_sec);
    EXPECT_EQ(st0.st_mtim.tv_nsec, st1.st_mtim.tv_nsec);
    EXPECT_FALSE(TempRegistry::Exists(reg.Path() + ".lock"));
}

TEST(SettingsStoreFiles, CreatesPrivateFoldersAndFollowsALinkedFile) {
    TempRegistry reg;
    const std::string nested = reg.Dir() + "/a/b/registry.reg";
    setenv("TAVREC_REGISTRY", nested.c_str(), 1);
    {
        auto store = OpenTavrecKey();
        ASSERT_TRUE(store->WriteDword("A", 1));
    }
    struct stat st;
    for (const std::string& dir : {reg.Dir() + "/a", reg.Dir() + "/a/b"}) {
        ASSERT_EQ(::stat(dir.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << dir;
    }
    ASSERT_EQ(::stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A dotfile kept elsewhere and linked in: the link stays, its target is updated.
    const std::string link = reg.Dir() + "/linked.reg";
    ASSERT_EQ(::symlink("a/b/registry.reg", link.c_str()), 0);
    setenv("TAVREC_REGISTRY", link.c_str(), 1);
    {
        auto store = OpenTavrecKey();
        ASSERT_TRUE(store->WriteDword("B", 2));
    }
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(TempRegistry::ReadFile(nested).find("\"B\"=dword:00000002"), std::string::npos);
    EXPECT_NE(TempRegistry::ReadFile(nested).find("\"A\"=dword:00000001"), std::string::npos);

    // A folder that cannot be made is a refused write.
    TempRegistry::WriteFile(reg.Dir() + "/plainfile", "x");
    SettingsStore blocked(reg.Dir() + "/plainfile/sub/registry.reg");
    EXPECT_FALSE(blocked.OpenKey("\\SOFTWARE", true));
    EXPECT_EQ(blocked.LastErrorKind(), SettingsStore::ErrorKind::Write);
    EXPECT_NE(blocked.LastError().find("not a folder"), std::string::npos) << blocked.LastError();
}

TEST(SettingsStoreFiles, DeleteRemovesOnlyThatValue) {
    TempRegistry reg;
    auto store = OpenTavrecKey();
    ASSERT_TRUE(store->WriteDword("A", 1));
    ASSERT_TRUE(store->WriteDword("B", 2));
    ASSERT_TRUE(store->DeleteValue("a"));
    EXPECT_FALSE(store->ValueExists("A"));
    EXPECT_EQ(reg.Text(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\n\"B\"=dword:00000002\n\n");
    EXPECT_FALSE(store->DeleteValue("A"));
    EXPECT_EQ(store->LastErrorKind(), SettingsStore::ErrorKind::NotFound);
}

TEST(SettingsStoreConcurrency, AWriteKeepsWhatAnotherWriterStoredMeanwhile) {
    TempRegistry reg;
    auto first = OpenTavrecKey();
    auto second = OpenTavrecKey();  // both have read the file now
    ASSERT_TRUE(second->WriteDword("FromSecond", 2));
    ASSERT_TRUE(first->WriteDword("FromFirst", 1));  // must not drop FromSecond
    auto check = OpenTavrecKey(false);
    EXPECT_TRUE(check->ValueExists("FromSecond"));
    EXPECT_TRUE(check->ValueExists("FromFirst"));
}

TEST(SettingsStoreConcurrency, TwoProcessesWritingAtOnceLoseNothing) {
    TempRegistry reg;
    constexpr int kPerProcess = 40;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            for (int i = 0; i < kPerProcess; ++i) {
                SettingsStore store;
                store.SetRootKey("HKEY_LOCAL_MACHINE");
                if (!store.OpenKey(kKey, true) || !store.WriteDword("P" + std::to_string(p) + "_" + std::to_string(i), i))
                    ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto store = OpenTavrecKey(false);
    EXPECT_EQ(store->ValueNames().size(), size_t(2 * kPerProcess));
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kPerProcess; ++i) {
            uint32_t d = 999;
            EXPECT_TRUE(store->ReadDword("P" + std::to_string(p) + "_" + std::to_string(i), &d));
            EXPECT_EQ(d, uint32_t(i));
        }
}
