// "--force" of the verbs that refuse doubtful input unless told.
#pragma once

#include <cstring>
#include <vector>

namespace tavro::posixhub {

// The arguments other than "--force", in order; `force` tells whether it was given. After "--"
// every argument is a word, "--force" too.
inline std::vector<const char*> WordsAndForce(int argc, const char* const* argv, bool& force) {
    std::vector<const char*> words;
    force = false;
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        if (!optionsEnded && std::strcmp(argv[i], "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && std::strcmp(argv[i], "--force") == 0) {
            force = true;
        } else {
            words.push_back(argv[i]);
        }
    }
    return words;
}

} // namespace tavro::posixhub
