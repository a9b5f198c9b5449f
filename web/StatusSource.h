// Where the dashboard's picture of the hub comes from: the status block and, where the hub
// answers it, its status report. Each edition has its own (web/posix, web/win32).
#pragma once

#include <memory>
#include <string>

namespace tavro::web {

class StatusSource {
public:
    virtual ~StatusSource() = default;
    // One JSON object: "hub" ("running", "notRunning", "notResponding"), "edition", and
    // "status" as `tavro status --json` gives it (what this edition can tell of it).
    virtual std::string Snapshot() = 0;

    // The settings the page may change, as a JSON array of {"name", "type", "value", "help",
    // and "choices" or "minimum"/"maximum"}; "[]" where this edition offers none.
    virtual std::string Settings() { return "[]"; }
    // Stores one setting as `tavro config set NAME VALUE` does and has the running hub take it.
    // False with the refusal in `message`; true with what was done.
    virtual bool ChangeSetting(const std::string& name, const std::string& value,
                               std::string& message) {
        (void)name;
        (void)value;
        message = "this edition's settings cannot be changed from the dashboard";
        return false;
    }
};

// The source of the edition this program was built for.
std::unique_ptr<StatusSource> MakeStatusSource();

} // namespace tavro::web
