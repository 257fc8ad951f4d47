// multipart/form-data splitting and the small text helpers the server shares with it.
#include "standins/cloud/CendraStandin.h"
#include "standins/cloud/Text.h"

namespace cendra_standin {

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    size_t end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

std::vector<std::pair<std::string, std::string>> HeaderParameters(const std::string& value) {
    // "form-data; name=\"a;b\"; filename=x": split at ";" outside quotes; quoted values may hold
    // backslash escapes.
    std::vector<std::pair<std::string, std::string>> params;
    size_t i = value.find(';');
    while (i != std::string::npos && i < value.size()) {
        ++i;
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
        size_t eq = i;
        while (eq < value.size() && value[eq] != '=' && value[eq] != ';') ++eq;
        std::string key = Trim(value.substr(i, eq - i));
        std::string text;
        i = eq;
        if (i < value.size() && value[i] == '=') {
            ++i;
            while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
            if (i < value.size() && value[i] == '"') {
                for (++i; i < value.size() && value[i] != '"'; ++i) {
                    if (value[i] == '\\' && i + 1 < value.size()) ++i;
                    text += value[i];
                }
                if (i < value.size()) ++i;  // closing quote
                while (i < value.size() && value[i] != ';') ++i;
            } else {
                size_t end = value.find(';', i);
                text = Trim(value.substr(i, end == std::string::npos ? std::string::npos : end - i));
                i = end;
            }
        }
        if (!key.empty()) params.emplace_back(key, text);
        if (i == std::string::npos || i >= value.size()) break;
        i = value.find(';', i);
    }
    return params;
}

// Header lines "Name: value" separated by CR LF.
static Fields ParseHeaderBlock(const std::string& block) {
    Fields headers;
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find("\r\n", pos);
        if (end == std::string::npos) end = block.size();
        std::string line = block.substr(pos, end - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos) headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        pos = end + 2;
    }
    return headers;
}

std::vector<Part> ParseMultipart(const std::string& contentType, const std::string& body) {
    std::vector<Part> parts;
    std::string boundary;
    for (const auto& [key, value] : HeaderParameters(contentType)) {
        if (EqualsNoCase(key, "boundary")) boundary = value;
    }
    if (boundary.empty()) return parts;
    const std::string dash = "--" + boundary;

    // A delimiter is "--boundary" at the start of the body or after CR LF, followed by "--" (the
    // last one), or by optional blanks and CR LF. Anything else is content.
    auto delimiterEnd = [&](size_t at, bool& last) -> size_t {
        size_t i = at + dash.size();
        if (body.compare(i, 2, "--") == 0) {
            last = true;
            return i + 2;
        }
        while (i < body.size() && (body[i] == ' ' || body[i] == '\t')) ++i;
        if (body.compare(i, 2, "\r\n") == 0) {
            last = false;
            return i + 2;
        }
        return std::string::npos;
    };
    auto findDelimiter = [&](size_t from, bool& last, size_t& after) -> size_t {
        for (size_t at = from; at < body.size(); ++at) {
            at = body.find(dash, at);
            if (at == std::string::npos) return at;
            bool lineStart = at == 0 || (at >= 2 && body.compare(at - 2, 2, "\r\n") == 0);
            if (!lineStart) continue;
            after = delimiterEnd(at, last);
            if (after != std::string::npos) return at;
        }
        return std::string::npos;
    };

    bool last = false;
    size_t after = 0;
    if (findDelimiter(0, last, after) == std::string::npos || last) return parts;
    while (true) {
        size_t headEnd;
        if (body.compare(after, 2, "\r\n") == 0) {
            headEnd = after;  // no headers at all
        } else {
            headEnd = body.find("\r\n\r\n", after);
            if (headEnd == std::string::npos) return parts;
        }
        Part part;
        part.headers = ParseHeaderBlock(body.substr(after, headEnd - after));
        size_t contentBegin = headEnd + (headEnd == after ? 2 : 4);
        // The CR LF before the next delimiter belongs to the delimiter.
        size_t next = findDelimiter(contentBegin, last, after);
        if (next == std::string::npos || next < contentBegin + 2) return parts;
        part.bytes = body.substr(contentBegin, next - 2 - contentBegin);
        for (const auto& [name, value] : part.headers) {
            if (EqualsNoCase(name, "Content-Type")) part.contentType = value;
            if (!EqualsNoCase(name, "Content-Disposition")) continue;
            for (const auto& [key, text] : HeaderParameters(value)) {
                if (EqualsNoCase(key, "name")) part.name = text;
                if (EqualsNoCase(key, "filename")) {
                    part.filename = text;
                    part.hasFilename = true;
                }
            }
        }
        parts.push_back(std::move(part));
        if (last) return parts;
    }
}

}  // namespace cendra_standin
