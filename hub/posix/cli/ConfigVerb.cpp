// `tavro config`: the settings by name, checked against the COM directory and this system,
// then handed to a running hub (ConfigureSettings, which the dashboard runs too).
#include "hub/posix/cli/Verbs.h"
#include "hub/posix/config/ConfigApply.h"

#include <cstdio>
#include <sstream>
#include <string>

namespace tavro::posixhub {

int ConfigVerb(int argc, char** argv) {
    std::string output;
    std::string errors;
    const int code = ConfigureSettings(argc, argv, output, errors);
    std::fputs(output.c_str(), stdout);
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
        std::fprintf(stderr, "tavro config: %s\n", line.c_str());
    }
    return code;
}

} // namespace tavro::posixhub
