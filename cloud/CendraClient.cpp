#include "cloud/CendraClient.h"
#include <curl/curl.h>
#include <algorithm>
#include <cstdio>
#include <unordered_set>

CendraTimeouts g_cendraTimeouts;

namespace {

enum class GetOutcome { Tree, NoTree, TimedOut };

// One GET into a buffer of its own; the tree only for status 200 and one complete JSON text.
GetOutcome Get(const std::string& url, JsonTree& tree) {
    tree.reset();
    CURL* handle = curl_easy_init();
    if (!handle) return GetOutcome::NoTree;
    std::string body;
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    // The library's own default is no limit: a redirect loop would hold the UI thread for good.
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 30L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, g_cendraTimeouts.connectMs);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, g_cendraTimeouts.getTotalMs);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, AppendResponse);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(handle);
    if (result != CURLE_OK) {
        std::fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(result));
        // The connect limit and the total limit both give this code.
        return result == CURLE_OPERATION_TIMEDOUT ? GetOutcome::TimedOut : GetOutcome::NoTree;
    }
    if (status != 200) return GetOutcome::NoTree;
    // The length includes the terminator, which the parser wants to see right after the text;
    // checking the end as well rejects a NUL byte followed by more.
    const char* end = nullptr;
    tree.reset(cJSON_ParseWithLengthOpts(body.c_str(), body.size() + 1, &end, 1));
    if (tree && end != body.c_str() + body.size()) tree.reset();
    return tree ? GetOutcome::Tree : GetOutcome::NoTree;
}

// The member's string, or "" when it is missing or not a string.
std::string StringMember(const cJSON* object, const char* key) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
    return cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
}

// A list row that counts: an object whose "status" is the string "Active", byte for byte.
bool IsActiveRow(const cJSON* row) {
    if (!cJSON_IsObject(row)) return false;
    const cJSON* status = cJSON_GetObjectItemCaseSensitive(row, "status");
    return cJSON_IsString(status) && status->valuestring && std::string(status->valuestring) == "Active";
}

// The rows of a list reply; none unless the reply is an array.
std::vector<const cJSON*> ActiveRows(const JsonTree& reply) {
    std::vector<const cJSON*> rows;
    if (!cJSON_IsArray(reply.get())) return rows;
    for (const cJSON* row = reply->child; row; row = row->next) {
        if (IsActiveRow(row)) rows.push_back(row);
    }
    return rows;
}

}  // namespace

std::size_t AppendResponse(char* data, std::size_t size, std::size_t count, void* buffer) {
    // Nothing may throw across the library's C frames.
    try {
        std::string& body = *static_cast<std::string*>(buffer);
        if (count != 0 && size > kMaxResponseBytes / count) return 0;
        const std::size_t bytes = size * count;
        if (bytes > kMaxResponseBytes - body.size()) return 0;
        body.append(data, bytes);
        return bytes;
    } catch (...) {
        return 0;
    }
}

std::string EncodeUrlValue(const std::string& value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const unsigned char b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~' || b == '@') {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

std::string ShapeEndoscopeType(std::string type) {
    for (char& c : type) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (!type.empty() && type[0] >= 'a' && type[0] <= 'z') type[0] = static_cast<char>(type[0] - 'a' + 'A');
    return type;
}

CendraLocation BuildLocation(std::string name, std::vector<EndoscopeRecord> endoscopes) {
    CendraLocation location;
    location.name = std::move(name);
    location.endoscopes = std::move(endoscopes);
    // The models each type has listed so far: a search of its list per row was quadratic.
    std::unordered_map<std::string, std::unordered_set<std::string>> seen;
    for (const EndoscopeRecord& record : location.endoscopes) {
        location.endoscopesByType[record.type].push_back(record);
        if (seen[record.type].insert(record.model).second) location.modelsByType[record.type].push_back(record.model);
    }
    return location;
}

CendraClient::CendraClient(std::string url) : baseUrl(std::move(url)), session(std::make_unique<CendraSession>()) {}

JsonTree CendraClient::GetJson(std::string url) {
    JsonTree tree;
    Get(url, tree);
    return tree;
}

JsonTree CendraClient::SequenceGet(const std::string& url) {
    JsonTree tree;
    if (m_sequenceCut) return tree;
    if (Get(url, tree) == GetOutcome::TimedOut) m_sequenceCut = true;
    return tree;
}

void CendraClient::Login(std::string name, std::string password) {
    if (name.empty() || password.empty()) return;
    m_sequenceCut = false;
    const JsonTree reply = SequenceGet(baseUrl + "/v1/auth/login?username=" + EncodeUrlValue(name) +
                                       "&password=" + EncodeUrlValue(password));
    const cJSON* id = cJSON_IsObject(reply.get()) ? cJSON_GetObjectItemCaseSensitive(reply.get(), "velmoraId") : nullptr;
    if (!cJSON_IsString(id) || !id->valuestring) {
        session->loggedIn = false;
        return;
    }
    session->loginName = name;
    session->userIdentifier = StringMember(reply.get(), "username");
    session->organizationCode = StringMember(reply.get(), "organizationCode");
    session->id = id->valuestring;
    FetchLists();
    session->loggedIn = true;
}

void CendraClient::FetchLists() {
    const std::string listUrl = baseUrl + "/v1/publish/";
    const std::string id = EncodeUrlValue(session->id);
    {
        const JsonTree reply = SequenceGet(listUrl + "locations/" + id);
        if (!cJSON_IsArray(reply.get())) return;
        for (const cJSON* row : ActiveRows(reply)) {
            const std::string name = StringMember(row, "location");
            session->locations.push_back(name);
            session->locationsByName.insert_or_assign(name, BuildLocation(name, FetchEndoscopes(name)));
        }
    }
    {
        const JsonTree reply = SequenceGet(listUrl + "facilities/" + id);
        for (const cJSON* row : ActiveRows(reply)) session->facilities.push_back(StringMember(row, "nameFacility"));
    }
    {
        const JsonTree reply = SequenceGet(listUrl + "testers/" + id);
        for (const cJSON* row : ActiveRows(reply)) {
            session->testers.push_back(StringMember(row, "first") + " " + StringMember(row, "last"));
        }
    }
}

std::vector<EndoscopeRecord> CendraClient::FetchEndoscopes(std::string locationName) {
    std::vector<EndoscopeRecord> records;
    const JsonTree reply = SequenceGet(baseUrl + "/v1/publish/endoscopes/" + EncodeUrlValue(session->id));
    for (const cJSON* row : ActiveRows(reply)) {
        if (StringMember(row, "location") != locationName) continue;
        records.push_back({ShapeEndoscopeType(StringMember(row, "endoscope")), StringMember(row, "serial"),
                           StringMember(row, "model")});
    }
    return records;
}
