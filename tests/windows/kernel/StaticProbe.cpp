// A static object for a test build of the driver (TavroStaticProbe.sys): its constructor and
// destructor leave registry values behind, so a test can see that the entry point constructs
// the driver's static objects and that unload destroys them.
#include "sys/kernel/CountedString.h"
#include "sys/kernel/KernelHeaders.h"
#include "sys/kernel/RegistryKey.h"

namespace {

void Mark(const wchar_t* valueName) {
    using namespace tavro::kernel;
    RegistryKey key(RegistryRoot::None, L"\\Registry\\Machine\\Software\\TavroStaticProbe",
                    KEY_SET_VALUE, KeyDisposition::CreateIfMissing, REG_OPTION_VOLATILE);
    key.WriteString(valueName, TextView(L"yes"));
}

struct StaticProbe {
    StaticProbe() { Mark(L"Constructed"); }
    ~StaticProbe() { Mark(L"Destroyed"); }
};

StaticProbe probe;

} // namespace
