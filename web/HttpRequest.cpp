#include "web/HttpRequest.h"

#include <charconv>

namespace tavro::web {
namespace {

constexpr size_t targetLimit = 2048;

ParseResult Refuse(int status, const char* reason) {
    ParseResult result;
    result.state = ParseState::refused;
    result.status = status;
    result.reason = reason;
    return result;
}

bool IsTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!IsTokenChar(c)) {
            return false;
        }
    }
    return true;
}

bool SameName(std::string_view name, std::string_view lower) {
    if (name.size() != lower.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != lower[i]) {
            return false;
        }
    }
    return true;
}

// A header value without the blanks around it.
std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string_view::npos
               ? std::string_view()
               : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The next line of `head` without its CR LF (or LF); `head` moves past it.
std::string_view NextLine(std::string_view& head) {
    const size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    head.remove_prefix(end == std::string_view::npos ? head.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

bool HasControl(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

} // namespace

ParseResult ParseHttpRequest(std::string_view bytes, HttpRequest& request) {
    // The head ends at the first empty line; a bare LF is taken as a line end too.
    size_t headEnd = bytes.find("\r\n\r\n");
    size_t bodyStart = headEnd == std::string_view::npos ? headEnd : headEnd + 4;
    const size_t bareEnd = bytes.find("\n\n");
    if (bareEnd != std::string_view::npos &&
        (headEnd == std::string_view::npos || bareEnd < headEnd)) {
        headEnd = bareEnd;
        bodyStart = bareEnd + 2;
    }
    if (headEnd == std::string_view::npos) {
        return bytes.size() > headLimit ? Refuse(431, "Request Header Fields Too Large")
                                        : ParseResult{};
    }
    if (headEnd > headLimit) {
        return Refuse(431, "Request Header Fields Too Large");
    }
    std::string_view head = bytes.substr(0, headEnd + 1);
    // Empty lines before the request line are allowed (and skipped).
    std::string_view line = NextLine(head);
    while (line.empty() && !head.empty()) {
        line = NextLine(head);
    }
    const size_t firstSpace = line.find(' ');
    const size_t lastSpace = line.rfind(' ');
    if (firstSpace == std::string_view::npos || firstSpace == lastSpace) {
        return Refuse(400, "Bad Request");
    }
    const std::string_view method = line.substr(0, firstSpace);
    const std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const std::string_view version = line.substr(lastSpace + 1);
    if (!IsToken(method) || target.empty() || target.find(' ') != std::string_view::npos ||
        HasControl(target)) {
        return Refuse(400, "Bad Request");
    }
    if (version.substr(0, 5) != "HTTP/") {
        return Refuse(400, "Bad Request");
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return Refuse(505, "HTTP Version Not Supported");
    }
    if (target.size() > targetLimit) {
        return Refuse(414, "URI Too Long");
    }
    if (target.front() != '/') {
        return Refuse(400, "Bad Request");
    }
    request = HttpRequest{};
    request.method = method;
    const size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string_view::npos) {
        request.query = target.substr(question + 1);
    }
    bool hasHost = false;
    bool hasLength = false;
    size_t length = 0;
    while (!head.empty()) {
        line = NextLine(head);
        if (line.empty()) {
            break;
        }
        const size_t colon = line.find(':');
        // A continuation line (obsolete folding), a name with spaces, no colon: all refused.
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) {
            return Refuse(400, "Bad Request");
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = Trim(line.substr(colon + 1));
        if (HasControl(value) && value.find('\t') == std::string_view::npos) {
            return Refuse(400, "Bad Request");
        }
        if (SameName(name, "host")) {
            if (hasHost) {
                return Refuse(400, "Bad Request");
            }
            hasHost = true;
            request.host = value;
        } else if (SameName(name, "content-length")) {
            size_t parsed = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), parsed);
            if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
                (hasLength && parsed != length)) {
                return Refuse(400, "Bad Request");
            }
            hasLength = true;
            length = parsed;
        } else if (SameName(name, "transfer-encoding")) {
            return Refuse(501, "Not Implemented");
        } else if (SameName(name, "origin")) {
            request.origin = value;
        } else if (SameName(name, "sec-fetch-site")) {
            request.fetchSite = value;
        } else if (SameName(name, "x-tavro-token")) {
            request.token = value;
        } else if (SameName(name, "content-type")) {
            request.contentType = value;
        }
    }
    if (!hasHost && version == "HTTP/1.1") {
        return Refuse(400, "Bad Request");
    }
    if (length > bodyLimit) {
        return Refuse(413, "Content Too Large");
    }
    if (bytes.size() - bodyStart < length) {
        return ParseResult{};
    }
    request.body = bytes.substr(bodyStart, length);
    ParseResult result;
    result.state = ParseState::complete;
    result.consumed = bodyStart + length;
    return result;
}

} // namespace tavro::web
