#include "platform/RegistryText.h"

#include "common/NmeaChecksum.h"

#include "platform/ErrorCodes.h"

#include <stdio.h>
#include <unordered_set>

namespace tavro::platform {
namespace {

constexpr std::string_view headerAnsi = "REGEDIT4";
constexpr std::string_view headerUnicode = "Windows Registry Editor Version 5.00";
constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
constexpr size_t wrapColumn = 78;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           FoldRegistryName(text.substr(0, prefix.size())) == FoldRegistryName(prefix);
}

// 1 to `maxDigits` hex digits and nothing else.
bool ParseHexNumber(std::string_view text, size_t maxDigits, uint32_t& number) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    number = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        number = (number << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

// A quoted text at the start of `text`: "…" with \\ and \" as escapes; a backslash before any
// other character stands for itself, as people write Windows paths. On success `text` is left
// behind the closing quote.
bool ParseQuoted(std::string_view& text, std::string& out) {
    out.clear();
    if (text.empty() || text.front() != '"') {
        return false;
    }
    size_t i = 1;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out += text[i + 1];
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return false;
}

bool IsPrintable(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] < 0x20 || bytes[i] == 0x7F) {
            return false;
        }
    }
    return true;
}

class Parser {
public:
    Parser(std::string_view text, std::string_view rootName, RegistryTree& tree,
           RegistryTextReport& report)
        : text_(text), rootName_(rootName), tree_(tree), report_(report) {}

    void Run() {
        tree_.Clear();
        report_ = RegistryTextReport{};
        if (text_.substr(0, utf8Mark.size()) == utf8Mark) {
            pos_ = utf8Mark.size();
        }
        bool first = true;
        std::string_view line;
        while (NextLine(line)) {
            const uint32_t number = lineNumber_;
            if (line.empty() || line.front() == ';') {
                continue;
            }
            if (first && (line == headerAnsi || line == headerUnicode)) {
                first = false;
                continue;
            }
            first = false;
            const char* reason = line.front() == '[' ? ReadKeyLine(line) : ReadValueLine(line);
            if (reason != nullptr) {
                Problem(number, reason);
            }
        }
    }

private:
    // The next line without its line end, trimmed of blanks.
    bool NextLine(std::string_view& line) {
        if (pos_ >= text_.size()) {
            return false;
        }
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) {
            end = text_.size();
        }
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        ++lineNumber_;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = Trim(line);
        return true;
    }

    void Problem(uint32_t number, const char* reason) {
        if (report_.unreadableLines == 0) {
            report_.firstLine = number;
            report_.firstReason = reason;
        }
        ++report_.unreadableLines;
    }

    const char* ReadKeyLine(std::string_view line) {
        key_ = nullptr;
        if (line.size() < 2 || line.back() != ']') {
            return "key line without a closing bracket";
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        if (!inner.empty() && inner.front() == '-') {
            return "key deletion in a stored file";
        }
        if (!StartsWithFolded(inner, rootName_) ||
            (inner.size() > rootName_.size() && inner[rootName_.size()] != '\\')) {
            return "key outside this file's root";
        }
        inner.remove_prefix(inner.size() > rootName_.size() ? rootName_.size() + 1
                                                            : rootName_.size());
        std::string path;
        if (AppendRegistryPath(path, inner) != error::success) {
            return "key name not allowed";
        }
        bool created = false;
        key_ = &tree_.Create(path, created);
        return nullptr;
    }

    const char* ReadValueLine(std::string_view line) {
        std::string name;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (!ParseQuoted(line, name)) {
            return line.front() == '"' ? "value name without a closing quote"
                                       : "neither a key, a value nor a comment";
        }
        line = Trim(line);
        if (line.empty() || line.front() != '=') {
            return "value without '='";
        }
        line = Trim(line.substr(1));

        uint32_t type = regNone;
        std::vector<uint8_t> data;
        const char* reason = ReadData(line, type, data);
        if (reason != nullptr) {
            return reason;
        }
        if (key_ == nullptr) {
            return "value without a readable key above it";
        }
        bool changed = false;
        if (key_->Set(name, type, data.data(), static_cast<uint32_t>(data.size()), changed) !=
            error::success) {
            return "value name not allowed";
        }
        return nullptr;
    }

    const char* ReadData(std::string_view text, uint32_t& type, std::vector<uint8_t>& data) {
        std::string quoted;
        if (!text.empty() && text.front() == '"') {
            if (!ParseQuoted(text, quoted) || !text.empty()) {
                return "text value not closed by its quote";
            }
            type = regSz;
            data.assign(quoted.begin(), quoted.end());
            data.push_back(0);
            return nullptr;
        }
        if (StartsWithFolded(text, "str:")) {
            text.remove_prefix(4);
            if (!ParseQuoted(text, quoted) || !text.empty()) {
                return "text value not closed by its quote";
            }
            type = regSz;
            data.assign(quoted.begin(), quoted.end());
            return nullptr;
        }
        if (StartsWithFolded(text, "dword:")) {
            uint32_t number = 0;
            if (!ParseHexNumber(text.substr(6), 8, number)) {
                return "dword value that is not 1 to 8 hex digits";
            }
            type = regDword;
            data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                    static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
            return nullptr;
        }
        if (StartsWithFolded(text, "hex:")) {
            type = regBinary;
            return ReadBytes(text.substr(4), data);
        }
        if (StartsWithFolded(text, "hex(")) {
            const size_t close = text.find("):");
            if (close == std::string_view::npos ||
                !ParseHexNumber(text.substr(4, close - 4), 8, type)) {
                return "hex(type) value with a bad type";
            }
            return ReadBytes(text.substr(close + 2), data);
        }
        return "value of unknown form";
    }

    // Comma-separated bytes; a final backslash continues the list on the next line. A list
    // whose next line is missing or plainly starts something else is broken off: unreadable,
    // and the line after it is read on its own (a damaged list cannot swallow a key).
    const char* ReadBytes(std::string_view first, std::vector<uint8_t>& data) {
        std::string list(first);
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            const size_t savedPos = pos_;
            const uint32_t savedLine = lineNumber_;
            std::string_view next;
            if (!NextLine(next)) {
                return "byte list broken off at the end";
            }
            if (next.empty() || next.front() == '[' || next.front() == '"' || next.front() == '@' ||
                next.front() == ';') {
                pos_ = savedPos;
                lineNumber_ = savedLine;
                return "byte list broken off";
            }
            list += next;
        }
        std::string_view rest = Trim(list);
        if (rest.empty()) {
            return nullptr;
        }
        if (rest.back() == ',') {
            rest.remove_suffix(1); // the comma regedit leaves before a line break
        }
        size_t start = 0;
        for (;;) {
            size_t end = rest.find(',', start);
            if (end == std::string_view::npos) {
                end = rest.size();
            }
            uint32_t byte = 0;
            if (!ParseHexNumber(Trim(rest.substr(start, end - start)), 2, byte)) {
                return "byte that is not 1 or 2 hex digits";
            }
            if (data.size() >= registryValueDataMax) {
                return "value larger than the store allows";
            }
            data.push_back(static_cast<uint8_t>(byte));
            if (end == rest.size()) {
                return nullptr;
            }
            start = end + 1;
        }
    }

    std::string_view text_;
    std::string_view rootName_;
    RegistryTree& tree_;
    RegistryTextReport& report_;
    size_t pos_ = 0;
    uint32_t lineNumber_ = 0;
    RegistryKeyNode* key_ = nullptr; // the key the following values belong to
};

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

void AppendBytes(std::string& out, size_t column, const std::vector<uint8_t>& data) {
    char piece[4];
    for (size_t i = 0; i < data.size(); ++i) {
        const bool more = i + 1 < data.size();
        snprintf(piece, sizeof piece, more ? "%02x," : "%02x", data[i]);
        const size_t width = more ? 3 : 2;
        if (i > 0 && column + width > wrapColumn) {
            out += "\\\n  ";
            column = 2;
        }
        out += piece;
        column += width;
    }
}

void AppendValue(std::string& out, const RegistryValueEntry& value) {
    const size_t lineStart = out.size();
    if (value.name.empty()) {
        out += '@';
    } else {
        AppendQuoted(out, value.name);
    }
    out += '=';
    const uint8_t* bytes = value.data.data();
    const size_t size = value.data.size();
    if (value.type == regSz && size >= 1 && bytes[size - 1] == 0 && IsPrintable(bytes, size - 1)) {
        AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(bytes), size - 1));
    } else if (value.type == regSz && IsPrintable(bytes, size)) {
        out += "str:";
        AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(bytes), size));
    } else if (value.type == regDword && size == 4) {
        char number[16];
        snprintf(number, sizeof number, "dword:%08x",
                 static_cast<unsigned>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                       static_cast<uint32_t>(bytes[3]) << 24));
        out += number;
    } else {
        if (value.type == regBinary) {
            out += "hex:";
        } else {
            char prefix[16];
            snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
            out += prefix;
        }
        AppendBytes(out, out.size() - lineStart, value.data);
    }
    out += '\n';
}

std::string ParentOf(const std::string& path) {
    const size_t separator = path.rfind('\\');
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

} // namespace

void ParseRegistryText(std::string_view text, std::string_view rootName, RegistryTree& tree,
                       RegistryTextReport& report) {
    Parser(text, rootName, tree, report).Run();
}

std::string FormatRegistryText(const RegistryTree& tree, std::string_view rootName) {
    std::unordered_set<std::string> parents;
    for (const RegistryKeyNode& key : tree.Keys()) {
        if (!key.Path().empty()) {
            parents.insert(FoldRegistryName(ParentOf(key.Path())));
        }
    }
    std::string out(headerAnsi);
    out += '\n';
    for (const RegistryKeyNode& key : tree.Keys()) {
        // A key without values is implied by any key below it, and the root always exists.
        if (key.Values().empty() &&
            (key.Path().empty() || parents.count(FoldRegistryName(key.Path())) != 0)) {
            continue;
        }
        out += "\n[";
        out += rootName;
        if (!key.Path().empty()) {
            out += '\\';
            out += key.Path();
        }
        out += "]\n";
        for (const RegistryValueEntry& value : key.Values()) {
            AppendValue(out, value);
        }
    }
    return out;
}

} // namespace tavro::platform
