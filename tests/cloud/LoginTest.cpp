// The login sequence against the stand-in: which requests go out, in which order, and what the
// session holds afterwards, for good, failing and oddly shaped replies.
#include "standins/cloud/CendraStandin.h"
#include "tests/cloud/CloudTestSupport.h"
#include <gtest/gtest.h>
#include <functional>

using cendra_standin::Fault;
using cendra_standin::Server;

namespace {

using Strings = std::vector<std::string>;

Strings Targets(const Server& server) {
    Strings targets;
    for (const auto& request : server.Requests()) targets.push_back(request.method + " " + request.target);
    return targets;
}

Strings Serials(const std::vector<EndoscopeRecord>& records) {
    Strings out;
    for (const EndoscopeRecord& r : records) out.push_back(r.serial);
    return out;
}

const CendraLocation* FindLocation(const CendraSession& session, const std::string& name) {
    const auto found = session.locationsByName.find(name);
    return found == session.locationsByName.end() ? nullptr : &found->second;
}

const std::string kLogin = "GET /v1/auth/login?username=jdoe&password=secret";
const std::string kLocations = "GET /v1/publish/locations/T1001";
const std::string kEndoscopes = "GET /v1/publish/endoscopes/T1001";
const std::string kFacilities = "GET /v1/publish/facilities/T1001";
const std::string kTesters = "GET /v1/publish/testers/T1001";

TEST(Login, TwoLocationsMakeSixRequestsAndFillTheSession) {
    Server server(cendra_standin::FixtureText("test"));
    CendraClient client(server.BaseUrl());
    EXPECT_FALSE(client.IsLoggedIn());
    StreamCapture err(2);
    client.Login("jdoe", "secret");
    EXPECT_EQ(err.Lines(), Strings{});
    ASSERT_TRUE(client.IsLoggedIn());
    EXPECT_EQ(Targets(server), (Strings{kLogin, kLocations, kEndoscopes, kEndoscopes, kFacilities, kTesters}));

    const CendraSession& s = *client.session;
    EXPECT_EQ(s.loginName, "jdoe");
    EXPECT_EQ(s.userIdentifier, "John Doe");
    EXPECT_EQ(s.organizationCode, "ORG-T");
    EXPECT_EQ(s.id, "T1001");
    EXPECT_FALSE(s.isAdmin);
    EXPECT_EQ(s.locations, (Strings{"Endo Suite A", "Z\xC3\xBCrich"}));
    EXPECT_EQ(s.facilities, (Strings{"North Clinic", "South Clinic"}));
    EXPECT_EQ(s.testers, (Strings{"Ann Lee", "Bo Chen"}));
    ASSERT_EQ(s.locationsByName.size(), 2u);
    const CendraLocation* a = FindLocation(s, "Endo Suite A");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->name, "Endo Suite A");
    EXPECT_EQ(Serials(a->endoscopes), (Strings{"S1", "S2"}));
    EXPECT_EQ(Serials(a->endoscopesByType.at("Flexible")), Strings{"S1"});
    EXPECT_EQ(Serials(a->endoscopesByType.at("Rigid")), Strings{"S2"});
    EXPECT_EQ(a->modelsByType.at("Flexible"), Strings{"M1"});
    EXPECT_EQ(a->modelsByType.at("Rigid"), Strings{"M1"});
    const CendraLocation* z = FindLocation(s, "Z\xC3\xBCrich");
    ASSERT_TRUE(z);
    EXPECT_EQ(Serials(z->endoscopes), Strings{"S3"});
    EXPECT_EQ(z->endoscopes[0].type, "Flexible");
    EXPECT_EQ(z->endoscopes[0].model, "M2");
}

struct FailureCase {
    const char* name;
    std::string user, password;
    std::function<void(Server&)> faults;
    Strings requests;
    bool loggedIn;
    size_t locations, facilities, testers;
    size_t endoscopes = 0;  // over all locations
    size_t errorLines = 0;
    long totalMs = 30000;   // the program's limit unless a row waits for a time-out
};

const FailureCase kFailures[] = {
    {"empty name", "", "secret", nullptr, {}, false, 0, 0, 0},
    {"empty password", "jdoe", "", nullptr, {}, false, 0, 0, 0},
    {"401", "jdoe", "wrong", nullptr, {"GET /v1/auth/login?username=jdoe&password=wrong"}, false, 0, 0, 0},
    {"500", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::Status("/v1/auth", 500, R"({"velmoraId":"T1001"})")); },
     {kLogin}, false, 0, 0, 0},
    {"null", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::Status("/v1/auth", 200, "null")); }, {kLogin}, false, 0, 0, 0},
    {"array", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::Status("/v1/auth", 200, "[]")); }, {kLogin}, false, 0, 0, 0},
    {"empty object", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::Status("/v1/auth", 200, "{}")); }, {kLogin}, false, 0,
     0, 0},
    {"numeric id", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::Status("/v1/auth", 200, R"({"velmoraId":5})")); },
     {kLogin}, false, 0, 0, 0},
    {"locations 500", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::Status("/v1/publish/locations", 500, "{}")); },
     {kLogin, kLocations}, true, 0, 0, 0},
    {"locations object", "jdoe", "secret",
     [](Server& s) { s.AddFault(Fault::Status("/v1/publish/locations", 200, R"({"location":"A","status":"Active"})")); },
     {kLogin, kLocations}, true, 0, 0, 0},
    {"endoscopes object", "jdoe", "secret",
     [](Server& s) { s.AddFault(Fault::Status("/v1/publish/endoscopes", 200, "{}", 0)); },
     {kLogin, kLocations, kEndoscopes, kEndoscopes, kFacilities, kTesters}, true, 2, 2, 2},
    {"facilities 500", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::Status("/v1/publish/facilities", 500, "[]")); },
     {kLogin, kLocations, kEndoscopes, kEndoscopes, kFacilities, kTesters}, true, 2, 0, 2, 3},
    // A connection closed with no answer empties only its own list; the sequence goes on.
    {"endoscopes reset first", "jdoe", "secret",
     [](Server& s) { s.AddFault(Fault::CloseAfter("/v1/publish/endoscopes", 0, 1)); },
     {kLogin, kLocations, kEndoscopes, kEndoscopes, kFacilities, kTesters}, true, 2, 2, 2, 1, 1},
    {"endoscopes reset second", "jdoe", "secret",
     [](Server& s) { s.AddFault(Fault::CloseAfter("/v1/publish/endoscopes", 0, 2)); },
     {kLogin, kLocations, kEndoscopes, kEndoscopes, kFacilities, kTesters}, true, 2, 2, 2, 2, 1},
    {"facilities reset", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::CloseAfter("/v1/publish/facilities", 0)); },
     {kLogin, kLocations, kEndoscopes, kEndoscopes, kFacilities, kTesters}, true, 2, 0, 2, 3, 1},
    // A stalled service costs one time-out, not one per remaining request.
    {"endoscopes stalled", "jdoe", "secret", [](Server& s) { s.AddFault(Fault::Hang("/v1/publish/endoscopes")); },
     {kLogin, kLocations, kEndoscopes}, true, 2, 0, 0, 0, 1, 1000},
};

class LoginFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LoginFailures, RequestsAndSession) {
    const FailureCase& c = GetParam();
    Server server(cendra_standin::FixtureText("test"));
    if (c.faults) c.faults(server);
    ShortTimeouts limits(c.totalMs);
    CendraClient client(server.BaseUrl());
    StreamCapture err(2);
    client.Login(c.user, c.password);
    const std::vector<std::string> errors = err.Lines();
    EXPECT_EQ(errors.size(), c.errorLines);
    EXPECT_EQ(Targets(server), c.requests) << testing::PrintToString(errors);
    EXPECT_EQ(client.IsLoggedIn(), c.loggedIn);
    const CendraSession& s = *client.session;
    EXPECT_EQ(s.loginName, c.loggedIn ? c.user : "");
    EXPECT_EQ(s.id, c.loggedIn ? "T1001" : "");
    EXPECT_EQ(s.locations.size(), c.locations);
    EXPECT_EQ(s.locationsByName.size(), c.locations);
    EXPECT_EQ(s.facilities.size(), c.facilities);
    EXPECT_EQ(s.testers.size(), c.testers);
    size_t endoscopes = 0;
    for (const auto& [name, location] : s.locationsByName) {
        endoscopes += location.endoscopes.size();
        if (location.endoscopes.empty()) {
            EXPECT_TRUE(location.endoscopesByType.empty()) << name;
        }
    }
    EXPECT_EQ(endoscopes, c.endoscopes);
}

INSTANTIATE_TEST_SUITE_P(Replies, LoginFailures, ::testing::ValuesIn(kFailures), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

TEST(Login, AFailedLoginCanBeRetriedWithTheSameClient) {
    Server server(cendra_standin::FixtureText("test"));
    CendraClient client(server.BaseUrl());
    client.Login("jdoe", "wrong");
    EXPECT_FALSE(client.IsLoggedIn());
    client.Login("jdoe", "secret");
    EXPECT_TRUE(client.IsLoggedIn());
    EXPECT_EQ(server.RequestCount(), 7u);
    EXPECT_EQ(client.session->testers, (Strings{"Ann Lee", "Bo Chen"}));
}

// Rows as a careless service might send them: odd statuses, repeats, and rows of the wrong shape.
const char kShapes[] = R"({
  "accounts": [{"username": "odd", "password": "pw", "reply": {"velmoraId": "S1", "username": 7}}],
  "organisations": {"S1": {
    "locations": [
      {"location": "L1", "status": "Active"},
      {"location": "Old", "status": "Inactive"},
      {"location": "Low", "status": "active"},
      {"location": "Loud", "status": "ACTIVE"},
      "not an object", 12, null, [],
      {"location": "NoStatus"},
      {"location": "L2", "status": "Active"},
      {"location": 7, "status": "Active"},
      {"location": "L1", "status": "Active"}
    ],
    "endoscopes": [
      {"location": "L1", "endoscope": "COLONOSCOPE", "serial": "A1", "model": "M2", "status": "Active"},
      {"location": "L1", "endoscope": "colonoscope", "serial": "A2", "model": "M1", "status": "Active"},
      {"location": "L1", "endoscope": "Colonoscope", "serial": "A3", "model": "M2", "status": "Active"},
      {"location": "L1", "endoscope": "cOLONOSCOPE", "serial": "A4", "model": "M3", "status": "Active"},
      {"location": "L1", "endoscope": "FLEXIBLE gastroSCOPE", "serial": "A5", "model": "G1", "status": "Active"},
      {"location": "L1", "endoscope": "FLEXIBLE gastroSCOPE", "serial": "A5", "model": "G1", "status": "Active"},
      {"location": "L1", "endoscope": "\u00c9CHO scope", "serial": "A6", "model": "E1", "status": "Active"},
      {"location": "L1", "endoscope": "", "serial": "A7", "model": "", "status": "Active"},
      {"location": "L1", "endoscope": "rigid", "serial": "X1", "model": "R1", "status": "Inactive"},
      {"location": "L1", "endoscope": "rigid", "serial": "X2", "model": "R1"},
      {"location": "l1", "endoscope": "rigid", "serial": "X3", "model": "R1", "status": "Active"},
      "row", 42, null,
      {"location": "L1", "endoscope": 9, "serial": 12345, "model": null, "status": "Active"},
      {"location": "L2", "endoscope": "rigid", "serial": "B1", "model": "R1", "status": "Active"},
      {"location": 7, "endoscope": "Rigid", "serial": "N1", "model": "R9", "status": "Active"},
      {"endoscope": "Rigid", "serial": "N2", "model": "R9", "status": "Active"}
    ],
    "facilities": [
      {"nameFacility": "F1", "status": "Active"}, {"nameFacility": "F2", "status": "Inactive"},
      {"nameFacility": 5, "status": "Active"}, {"status": "Active"}, {"nameFacility": "F3", "status": 1}
    ],
    "testers": [
      {"first": "Ann", "last": "Lee", "status": "Active"}, {"first": "Cher", "last": "", "status": "Active"},
      {"first": "", "last": "Solo", "status": "Active"}, {"first": 1, "status": "Active"},
      {"first": "Ex", "last": "Staff", "status": "Inactive"}
    ]
  }}
})";

TEST(Login, ShapingKeepsActiveRowsAndStringsOnly) {
    Server server(kShapes);
    CendraClient client(server.BaseUrl());
    client.Login("odd", "pw");
    ASSERT_TRUE(client.IsLoggedIn());
    const CendraSession& s = *client.session;
    EXPECT_EQ(s.userIdentifier, "");
    EXPECT_EQ(s.organizationCode, "");
    EXPECT_EQ(s.id, "S1");
    // One endoscopes request per Active row, the repeated name and the non-string one included.
    EXPECT_EQ(server.RequestCount(), 2u + 4u + 2u);
    EXPECT_EQ(s.locations, (Strings{"L1", "L2", "", "L1"}));
    EXPECT_EQ(s.locationsByName.size(), 3u);
    EXPECT_EQ(s.facilities, (Strings{"F1", "", ""}));
    EXPECT_EQ(s.testers, (Strings{"Ann Lee", "Cher ", " Solo", " "}));

    const CendraLocation* l1 = FindLocation(s, "L1");
    ASSERT_TRUE(l1);
    EXPECT_EQ(Serials(l1->endoscopes), (Strings{"A1", "A2", "A3", "A4", "A5", "A5", "A6", "A7", ""}));
    Strings types;
    for (const EndoscopeRecord& r : l1->endoscopes) types.push_back(r.type);
    EXPECT_EQ(types, (Strings{"Colonoscope", "Colonoscope", "Colonoscope", "Colonoscope", "Flexible gastroscope",
                              "Flexible gastroscope", "\xC3\x89" "cho scope", "", ""}));
    EXPECT_EQ(l1->endoscopesByType.size(), 4u);
    EXPECT_EQ(Serials(l1->endoscopesByType.at("Colonoscope")), (Strings{"A1", "A2", "A3", "A4"}));
    EXPECT_EQ(l1->modelsByType.at("Colonoscope"), (Strings{"M2", "M1", "M3"}));
    EXPECT_EQ(Serials(l1->endoscopesByType.at("Flexible gastroscope")), (Strings{"A5", "A5"}));
    EXPECT_EQ(l1->modelsByType.at("Flexible gastroscope"), Strings{"G1"});
    EXPECT_EQ(Serials(l1->endoscopesByType.at("")), (Strings{"A7", ""}));
    EXPECT_EQ(l1->modelsByType.at(""), Strings{""});

    const CendraLocation* l2 = FindLocation(s, "L2");
    ASSERT_TRUE(l2);
    EXPECT_EQ(Serials(l2->endoscopes), Strings{"B1"});
    EXPECT_EQ(l2->endoscopes[0].type, "Rigid");
    // "location": 7 reads as "", so such rows meet in the location named "".
    const CendraLocation* unnamed = FindLocation(s, "");
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(Serials(unnamed->endoscopes), (Strings{"N1", "N2"}));
}

TEST(ShapeEndoscopeType, LowersThenRaisesTheFirstAsciiLetter) {
    const std::pair<std::string, std::string> cases[] = {
        {"FLEXIBLE gastroSCOPE", "Flexible gastroscope"}, {"", ""}, {"x", "X"},
        {"1st SCOPE", "1st scope"}, {" Rigid", " rigid"}, {"\xC3\x89" "CHO", "\xC3\x89" "cho"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ShapeEndoscopeType(in), out) << in;
}

// Names and passwords travel percent-encoded; the stand-in decodes them as a form would.
struct EscapeCase {
    std::string name;
    std::string rawName;
};

TEST(Login, ValuesArePercentEncoded) {
    const EscapeCase cases[] = {
        {"a b", "a%20b"},
        {"x&y=z", "x%26y%3Dz"},
        {"p#q", "p%23q"},
        {"100%", "100%25"},
        {"qa+1@example.com", "qa%2B1@example.com"},
        {"M\xC3\xBCller", "M%C3%BCller"},
        {"jdoe", "jdoe"},
        {"admin@example.com", "admin@example.com"},
        {"A-Z.a_z~09", "A-Z.a_z~09"},
    };
    const std::string password = "pw &=#%+/?";
    const std::string rawPassword = "pw%20%26%3D%23%25%2B%2F%3F";
    std::string fixture = R"({"accounts": [)";
    for (const EscapeCase& c : cases) {
        if (&c != cases) fixture += ",";
        fixture += R"({"username": ")" + c.name + R"(", "password": ")" + password +
                   R"(", "reply": {"velmoraId": "org/7?x#y z"}})";
    }
    fixture += R"(], "organisations": {"org/7?x#y z": {"testers": [{"first": "A", "last": "B", "status": "Active"}]}}})";
    Server server(fixture);
    for (const EscapeCase& c : cases) {
        server.ClearRecord();
        CendraClient client(server.BaseUrl());
        client.Login(c.name, password);
        EXPECT_TRUE(client.IsLoggedIn()) << c.name;
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 4u) << c.name;
        EXPECT_EQ(requests[0].target, "/v1/auth/login?username=" + c.rawName + "&password=" + rawPassword);
        EXPECT_EQ(requests[0].QueryValue("username"), c.name);
        EXPECT_EQ(requests[0].QueryValue("password"), password);
        EXPECT_EQ(requests[1].target, "/v1/publish/locations/org%2F7%3Fx%23y%20z");
        EXPECT_EQ(requests[3].target, "/v1/publish/testers/org%2F7%3Fx%23y%20z");
        EXPECT_EQ(client.session->id, "org/7?x#y z");
        EXPECT_EQ(client.session->testers, Strings{"A B"}) << c.name;
    }
}

TEST(EncodeUrlValue, EveryOtherByteAsUpperHex) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    const std::string encoded = EncodeUrlValue(all);
    EXPECT_EQ(encoded.substr(0, 6), "%01%02");
    EXPECT_NE(encoded.find("%2F0123456789%3A"), std::string::npos);
    EXPECT_NE(encoded.find("%3F@ABC"), std::string::npos);
    EXPECT_NE(encoded.find("XYZ%5B%5C%5D%5E_%60abc"), std::string::npos);
    EXPECT_NE(encoded.find("xyz%7B%7C%7D~%7F%80"), std::string::npos);
    EXPECT_EQ(encoded.substr(encoded.size() - 3), "%FF");
}

}  // namespace
