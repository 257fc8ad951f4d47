// The program's client logging in to cendra_standin.exe with the demo fixture, as the online demo
// run does: the session's lists come out as the demo data promises (inactive rows left out, types
// of mixed case merged).
#include <gtest/gtest.h>

#include <algorithm>

#include "cloud/CendraClient.h"
#include "tests/cloud_standin/StandinProcess.h"
#include "tests/support/TestSupport.h"

using Strings = std::vector<std::string>;

namespace {

Strings Serials(const CendraLocation& location, const std::string& type) {
    Strings serials;
    auto list = location.endoscopesByType.find(type);
    if (list != location.endoscopesByType.end()) {
        for (const EndoscopeRecord& r : list->second) serials.push_back(r.serial);
    }
    return serials;
}

Strings Models(const CendraLocation& location, const std::string& type) {
    auto list = location.modelsByType.find(type);
    return list == location.modelsByType.end() ? Strings{} : list->second;
}

}  // namespace

TEST(DemoLogin, FillsTheSessionFromTheDemoFixture) {
    StandinProcess standin(L"--port 0 --fixture " + Quoted(DemoFixturePath()));
    ASSERT_TRUE(standin.Started());
    const unsigned short port = standin.WaitForPort(20000);
    ASSERT_NE(port, 0) << standin.output;
    const std::string baseUrl = "http://127.0.0.1:" + std::to_string(port);

    CendraClient user(baseUrl);
    user.Login("jdoe", "demo1234");
    ASSERT_TRUE(user.IsLoggedIn());
    const CendraSession& s = *user.session;
    EXPECT_EQ(s.id, "VM-20417");
    EXPECT_EQ(s.userIdentifier, "Jane Doe");
    EXPECT_EQ(s.locations, (Strings{"Endoscopy Suite 1", "Endoscopy Suite 2", "Day Surgery Theatre"}));
    EXPECT_EQ(s.facilities, (Strings{"Riverside General Hospital", "Northgate Day Surgery", "St. Brigid Clinic"}));
    EXPECT_EQ(s.testers, (Strings{"Jane Doe", "Samir Haddad", "Ingrid Nilsson", "Tom\xC3\xA1s Ortega"}));

    ASSERT_EQ(s.locationsByName.size(), 3u);
    const CendraLocation& suite1 = s.locationsByName.at("Endoscopy Suite 1");
    EXPECT_EQ(suite1.endoscopes.size(), 4u);
    EXPECT_EQ(Serials(suite1, "Gastroscope"), (Strings{"G-104417", "G-104418", "G-110032"}));
    EXPECT_EQ(Models(suite1, "Gastroscope"), (Strings{"VK-200", "VK-350"}));
    EXPECT_EQ(Serials(suite1, "Colonoscope"), (Strings{"C-220871"}));
    const CendraLocation& suite2 = s.locationsByName.at("Endoscopy Suite 2");
    EXPECT_EQ(Serials(suite2, "Bronchoscope"), (Strings{"B-310004", "B-310009"}));
    EXPECT_EQ(Models(suite2, "Bronchoscope"), (Strings{"BR-4", "BR-4S"}));
    const CendraLocation& theatre = s.locationsByName.at("Day Surgery Theatre");
    EXPECT_EQ(theatre.endoscopesByType.size(), 2u);

    CendraClient admin(baseUrl);
    admin.Login("admin@example.com", "admin1234");
    ASSERT_TRUE(admin.IsLoggedIn());
    EXPECT_EQ(admin.session->userIdentifier, "Facility Admin");
    EXPECT_EQ(admin.session->locations, s.locations);

    CendraClient wrong(baseUrl);
    wrong.Login("jdoe", "demo");
    EXPECT_FALSE(wrong.IsLoggedIn());

    ChildResult stop = RunCaptured(Quoted(StandinExePath()) + L" --stop --port " + std::to_wstring(port));
    EXPECT_EQ(stop.exitCode, 0u) << stop.output;
    EXPECT_EQ(standin.Finish(10000), 0) << standin.output;
    // Two logins of 7 requests each (login, locations, 3 x endoscopes, facilities, testers), one refused.
    EXPECT_NE(standin.output.find("stopping after 15 requests"), std::string::npos) << standin.output;
}
