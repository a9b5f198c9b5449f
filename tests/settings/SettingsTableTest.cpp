// The one list of settings: every row complete, every member of Settings in it, the store
// writing nothing else, the defaults it gives.
#include "common/SpeedTable.h"
#include "hub/settings/Settings.h"
#include "hub/settings/SettingsStore.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace tavro::testing {
namespace {

bool IsText(SettingForm form) {
    return form == SettingForm::Text || form == SettingForm::Address ||
           form == SettingForm::HostPort || form == SettingForm::Source;
}

TEST(SettingsTable, EveryRowSaysWhatItTakesAndItsDefaultFits) {
    for (const SettingsEntry& entry : SettingsTable) {
        SCOPED_TRACE(entry.name);
        ASSERT_NE(entry.help, nullptr) << "a setting without its help line";
        const std::string help = entry.help;
        EXPECT_GE(help.size(), 20u) << help;
        EXPECT_EQ(help.find('\n'), std::string::npos) << "one line";
        EXPECT_EQ(IsText(entry.form), entry.type == platform::regSz);
        if (entry.form == SettingForm::Unit) {
            EXPECT_EQ(entry.numberDefault, ntpUnitNone) << "off by default";
            EXPECT_NE(help.find("or off"), std::string::npos) << help;
        }
        if (entry.form == SettingForm::Number || entry.form == SettingForm::ComNumber ||
            entry.form == SettingForm::Unit) {
            // The refusal of a value out of range is this line: it must name the range.
            EXPECT_LE(entry.minimum, entry.maximum);
            if (entry.form != SettingForm::Unit) {
                EXPECT_GE(entry.numberDefault, entry.minimum);
                EXPECT_LE(entry.numberDefault, entry.maximum);
            }
            if (entry.maximum != UINT32_MAX) {
                EXPECT_NE(help.find(std::to_string(entry.maximum)), std::string::npos) << help;
                EXPECT_NE(help.find(std::to_string(entry.minimum)), std::string::npos) << help;
            }
        }
        if (entry.form == SettingForm::LineSpeed) {
            for (const uint32_t speed : speedTable) {
                EXPECT_NE(help.find(std::to_string(speed)), std::string::npos) << speed;
            }
        }
        if (entry.form == SettingForm::Switch) {
            EXPECT_LE(entry.numberDefault, 1u);
        }
        if (IsText(entry.form) && entry.textDefault != nullptr) {
            EXPECT_LT(std::strlen(entry.textDefault), entry.size);
        }
    }
    for (const OptionName& option : optionNames) {
        ASSERT_NE(option.help, nullptr) << option.text;
        EXPECT_GE(std::strlen(option.help), 20u) << option.text;
    }
}

// A member of Settings that the table lacks would be neither loaded nor saved: the rows must
// cover the struct from its start to firstRun without a gap.
TEST(SettingsTable, EveryMemberOfSettingsHasARow) {
    std::vector<const SettingsEntry*> rows;
    for (const SettingsEntry& entry : SettingsTable) {
        rows.push_back(&entry);
    }
    std::sort(rows.begin(), rows.end(),
              [](const SettingsEntry* a, const SettingsEntry* b) { return a->offset < b->offset; });
    size_t end = 0;
    for (const SettingsEntry* row : rows) {
        EXPECT_EQ(row->offset, (end + 3) / 4 * 4) << "a member before " << row->name;
        end = row->offset + row->size;
    }
    EXPECT_EQ((end + 3) / 4 * 4, offsetof(Settings, firstRun)) << "a member after the last row";
}

// What the store writes is the table's (and the virtual ports' numbers), nothing of its own.
TEST(SettingsTable, TheStoreWritesOnlyWhatTheTableNames) {
    platform::MemoryRegistry registry;
    const Settings settings = DefaultSettings("/home/ana/GPSLog/Gps");
    SaveSettings(registry, settings, DriverExchangeBlock{}, nullptr, false);
    std::set<std::string> named = {"Port0", "Port1", "Port2", "Port3",
                                   "Port4", "Port5", "Port6", "Port7"};
    for (const SettingsEntry& entry : SettingsTable) {
        named.insert(entry.name);
    }
    platform::ScopedRegistryKey key(registry);
    ASSERT_EQ(registry.OpenKey(platform::RegistryKey::currentUser, settingsKeyPath, key.Receive()),
              error::success);
    std::set<std::string> written;
    for (uint32_t index = 0;; ++index) {
        char name[64];
        uint32_t nameSize = sizeof name;
        if (registry.EnumValue(key.Get(), index, name, &nameSize, nullptr, nullptr, nullptr) !=
            error::success) {
            break;
        }
        written.insert(name);
    }
    EXPECT_EQ(written, named);
}

// DefaultSettings takes the table's defaults, and a fresh Settings starts with the same.
TEST(SettingsTable, TheDefaultsAreTheTables) {
    const Settings defaults = DefaultSettings("");
    const Settings fresh{};
    const auto* made = reinterpret_cast<const unsigned char*>(&defaults);
    const auto* initial = reinterpret_cast<const unsigned char*>(&fresh);
    for (const SettingsEntry& entry : SettingsTable) {
        SCOPED_TRACE(entry.name);
        if (entry.type == platform::regDword) {
            uint32_t value = 0;
            std::memcpy(&value, made + entry.offset, sizeof value);
            EXPECT_EQ(value, entry.numberDefault);
        } else {
            const char* expected = entry.textDefault != nullptr ? entry.textDefault : "";
            EXPECT_STREQ(reinterpret_cast<const char*>(made + entry.offset), expected);
        }
        EXPECT_EQ(std::memcmp(made + entry.offset, initial + entry.offset, entry.size), 0)
            << "the member's initial value differs from the table's default";
    }
}

} // namespace
} // namespace tavro::testing
