// The text form of the file store: what it writes, and how it reads what people write.
#include "platform/RegistryText.h"

#include "platform/ErrorCodes.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::platform {
namespace {

using namespace std::string_literals;

constexpr const char* user = "HKEY_CURRENT_USER";

std::string Value(const RegistryTree& tree, const char* path, const char* name,
                  uint32_t* type = nullptr) {
    const RegistryKeyNode* key = tree.Find(path);
    const RegistryValueEntry* value = key != nullptr ? key->Find(name) : nullptr;
    if (value == nullptr) {
        return "<missing>";
    }
    if (type != nullptr) {
        *type = value->type;
    }
    return std::string(value->data.begin(), value->data.end());
}

TEST(RegistryText, WritesEachTypeInItsReadableForm) {
    RegistryTree tree;
    bool created = false;
    RegistryKeyNode& key = tree.Create("Software\\Brindle\\Tavro3", created);
    bool changed = false;
    key.Set("Port", regDword, "\x2c\x01\0\0", 4, changed);
    key.Set("LogPath", regSz, "C:\\GPSLog\\Gps", 13, changed);
    key.Set("Run \"x\"", regSz, "/opt/tavro\0", 11, changed);
    key.Set("Dev0", regBinary, "\x60\x9e\xfc\x36", 4, changed);
    key.Set("", regSz, "tab\there\0", 9, changed);
    key.Set("Short", regDword, "\x01", 1, changed);
    tree.Create("Empty", created);
    tree.Create("SOFTWARE\\Other", created); // one spelling per name: the first one
    EXPECT_EQ(tree.Find("software\\other")->Path(), "Software\\Other");

    EXPECT_EQ(FormatRegistryText(tree, user), "REGEDIT4\n"
                                              "\n[HKEY_CURRENT_USER\\Software\\Brindle\\Tavro3]\n"
                                              "\"Port\"=dword:0000012c\n"
                                              "\"LogPath\"=str:\"C:\\\\GPSLog\\\\Gps\"\n"
                                              "\"Run \\\"x\\\"\"=\"/opt/tavro\"\n"
                                              "\"Dev0\"=hex:60,9e,fc,36\n"
                                              "@=hex(1):74,61,62,09,68,65,72,65,00\n"
                                              "\"Short\"=hex(4):01\n"
                                              "\n[HKEY_CURRENT_USER\\Empty]\n"
                                              "\n[HKEY_CURRENT_USER\\Software\\Other]\n");
}

TEST(RegistryText, LongBinaryValuesWrapAndReadBack) {
    RegistryTree tree;
    bool created = false;
    bool changed = false;
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
        bytes += static_cast<char>(i);
    }
    tree.Create("k", created).Set("Blob", regBinary, bytes.data(), 200, changed);
    const std::string text = FormatRegistryText(tree, user);
    size_t longest = 0;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        longest = std::max(longest, end - start);
    }
    EXPECT_LE(longest, 80u);

    RegistryTree back;
    RegistryTextReport report;
    ParseRegistryText(text, user, back, report);
    EXPECT_EQ(report.unreadableLines, 0u);
    EXPECT_EQ(Value(back, "k", "Blob"), bytes);
    EXPECT_EQ(FormatRegistryText(back, user), text);
}

// A file as a person might write it: no header, CRLF, comments, blanks, other case, single
// backslashes in a Windows path, regedit's continuation lines.
TEST(RegistryText, ReadsWhatAPersonWrites) {
    const std::string text = "\xEF\xBB\xBF; my settings\r\n"
                             "\r\n"
                             "[hkey_current_user\\Software\\Brindle\\Tavro3]\r\n"
                             "  \"Baud\" = DWORD:12c0 \r\n"
                             "\"LogPath\"=\"C:\\GPSLog\\Gps\"\r\n"
                             "\"Dev0\"=hex:01,02,\\\r\n"
                             "    03,04\r\n"
                             "\"Sync\"=dword:00000001\r\n"
                             "\"Sync\"=dword:00000013\r\n";
    RegistryTree tree;
    RegistryTextReport report;
    ParseRegistryText(text, user, tree, report);
    EXPECT_EQ(report.unreadableLines, 0u) << report.firstReason;
    uint32_t type = 0;
    EXPECT_EQ(Value(tree, "software\\brindle\\tavro3", "baud", &type), "\xc0\x12\0\0"s);
    EXPECT_EQ(type, regDword);
    EXPECT_EQ(Value(tree, "Software\\Brindle\\Tavro3", "LogPath"), "C:\\GPSLog\\Gps\0"s);
    EXPECT_EQ(Value(tree, "Software\\Brindle\\Tavro3", "Dev0"), "\x01\x02\x03\x04");
    EXPECT_EQ(Value(tree, "Software\\Brindle\\Tavro3", "Sync"), "\x13\0\0\0"s);
}

TEST(RegistryText, SkipsAndCountsWhatItCannotRead) {
    const std::string text = "REGEDIT4\n"
                             "\"Orphan\"=dword:1\n" // 2: no key yet
                             "[HKEY_CURRENT_USER\\Good]\n"
                             "\"A\"=dword:123456789\n" // 4: nine digits
                             "\"B\"=hex:01,100\n"      // 5: not a byte
                             "\"C\"=\"unterminated\n"  // 6
                             "\"D\"=dword:00000004\n"
                             "\"E\"=hex:01,\\\n"                 // 8: runs into a key line
                             "[HKEY_LOCAL_MACHINE\\Elsewhere]\n" // 9: other root
                             "\"F\"=dword:6\n"                   // 10: under that key
                             "[HKEY_CURRENT_USER\\Good\\Sub]\n"
                             "\"G\"=-\n"                    // 12: deletion syntax
                             "garbage\n"                    // 13
                             "[-HKEY_CURRENT_USER\\Good]\n" // 14
                             "\"H\"=str:\"ok\"\n";          // 15: no key above
    RegistryTree tree;
    RegistryTextReport report;
    ParseRegistryText(text, user, tree, report);
    EXPECT_EQ(report.unreadableLines, 11u);
    EXPECT_EQ(report.firstLine, 2u);
    ASSERT_NE(report.firstReason, nullptr);
    EXPECT_EQ(Value(tree, "Good", "D"), "\x04\0\0\0"s);
    EXPECT_EQ(Value(tree, "Good", "E"), "<missing>");
    EXPECT_NE(tree.Find("Good\\Sub"), nullptr) << "the key after a broken continuation survives";
    EXPECT_EQ(tree.Find("Elsewhere"), nullptr);
    size_t values = 0;
    for (const RegistryKeyNode& key : tree.Keys()) {
        values += key.Values().size();
    }
    EXPECT_EQ(values, 1u);
}

} // namespace
} // namespace tavro::platform
