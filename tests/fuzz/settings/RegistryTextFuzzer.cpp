// Arbitrary bytes as a registry file: reading must never crash or overrun, and what is read
// must survive being written and read again unchanged (values, types, every key).
#include "platform/ErrorCodes.h"
#include "platform/RegistryText.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <string_view>

namespace {

using namespace tavro;
using namespace tavro::platform;

constexpr std::string_view root = "HKEY_CURRENT_USER";

void Check(bool condition) {
    if (!condition) {
        abort();
    }
}

bool SameValues(const RegistryKeyNode& a, const RegistryKeyNode& b) {
    if (a.Values().size() != b.Values().size()) {
        return false;
    }
    for (size_t i = 0; i < a.Values().size(); ++i) {
        const RegistryValueEntry& x = a.Values()[i];
        const RegistryValueEntry& y = b.Values()[i];
        if (x.name != y.name || x.type != y.type || x.data != y.data) {
            return false;
        }
    }
    return true;
}

// Every read path of a key: sizes only, a buffer one byte short, a buffer that fits.
void Exercise(const RegistryKeyNode& key) {
    uint8_t buffer[64];
    char name[64];
    for (uint32_t index = 0;; ++index) {
        uint32_t nameSize = sizeof name;
        uint32_t type = 0;
        uint32_t size = 0;
        const uint32_t result = key.Enum(index, name, &nameSize, &type, nullptr, &size);
        if (result == error::noMoreItems) {
            Check(index == key.Values().size());
            break;
        }
        const RegistryValueEntry& value = key.Values()[index];
        if (result == error::moreData) {
            Check(value.name.size() >= sizeof name);
            continue;
        }
        Check(result == error::success && nameSize == value.name.size() &&
              size == value.data.size() && type == value.type);
        Check(memcmp(name, value.name.c_str(), nameSize + 1) == 0);
        uint32_t shortSize = size == 0 ? 0 : size - 1;
        if (size != 0 && shortSize <= sizeof buffer) {
            Check(key.Query(value.name, &type, buffer, &shortSize) == error::moreData);
            Check(shortSize == size);
        }
        uint32_t fullSize = sizeof buffer;
        const uint32_t read = key.Query(value.name, &type, buffer, &fullSize);
        Check(size <= sizeof buffer
                  ? read == error::success && fullSize == size &&
                        (size == 0 || memcmp(buffer, value.data.data(), size) == 0)
                  : read == error::moreData && fullSize == size);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RegistryTree tree;
    RegistryTextReport report;
    ParseRegistryText(text, root, tree, report);
    Check((report.unreadableLines == 0) == (report.firstReason == nullptr));
    Check(report.unreadableLines == 0 || report.firstLine >= 1);

    const std::string written = FormatRegistryText(tree, root);
    RegistryTree again;
    RegistryTextReport second;
    ParseRegistryText(written, root, again, second);
    Check(second.unreadableLines == 0);
    Check(again.Keys().size() == tree.Keys().size());
    for (const RegistryKeyNode& key : tree.Keys()) {
        const RegistryKeyNode* copy = again.Find(key.Path());
        Check(copy != nullptr && copy->Path() == key.Path() && SameValues(key, *copy));
        Exercise(key);
    }
    Check(FormatRegistryText(again, root) == written);
    return 0;
}
