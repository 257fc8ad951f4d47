// cendra_standin.exe as the demo run uses it: a child process serving the demo fixture file on a
// port the system picks, printing its accounts, logging, and stopping on --stop.
#include "tests/cloud_standin/RawHttp.h"  // winsock2.h before windows.h

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <cjson/cJSON.h>

#include "tests/cloud_standin/StandinProcess.h"
#include "tests/support/Files.h"
#include "tests/support/TestSupport.h"

namespace {

std::wstring TempFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + name + std::to_wstring(GetCurrentProcessId());
    DeleteFileW(path.c_str());
    return path;
}

std::string Get(unsigned short port, const std::string& target, int* status) {
    RawClient client(port);
    client.Send(GetRequest(target));
    RawReply reply = client.Read();
    *status = reply.status;
    return reply.body;
}

std::vector<std::string> Strings(const std::string& json, const char* key) {
    std::vector<std::string> values;
    cJSON* root = cJSON_Parse(json.c_str());
    const cJSON* row = nullptr;
    cJSON_ArrayForEach(row, root) {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(row, key);
        if (cJSON_IsString(item)) values.push_back(item->valuestring);
    }
    cJSON_Delete(root);
    return values;
}

}  // namespace

TEST(StandinExe, ServesTheDemoFixtureUntilStopped) {
    const std::wstring log = TempFile(L"cendra_standin_log");
    StandinProcess standin(L"--port 0 --fixture " + Quoted(DemoFixturePath()) + L" --log " + Quoted(log));
    ASSERT_TRUE(standin.Started());
    const unsigned short port = standin.WaitForPort(20000);
    ASSERT_NE(port, 0) << standin.output;
    ASSERT_TRUE(standin.WaitForOutput("password: admin1234\n", 5000)) << standin.output;
    EXPECT_NE(standin.output.find("user: jdoe / password: demo1234\n"), std::string::npos) << standin.output;
    EXPECT_NE(standin.output.find("user: admin@example.com / password: admin1234\n"), std::string::npos);

    // The program's login sequence by hand: the lists it would fill are there, with their inactive rows.
    int status = 0;
    std::string login = Get(port, "/v1/auth/login?username=jdoe&password=demo1234", &status);
    ASSERT_EQ(status, 200) << login;
    cJSON* reply = cJSON_Parse(login.c_str());
    const cJSON* idItem = cJSON_GetObjectItemCaseSensitive(reply, "velmoraId");
    std::string id = cJSON_IsString(idItem) ? idItem->valuestring : "";
    cJSON_Delete(reply);
    ASSERT_FALSE(id.empty()) << login;

    std::string locations = Get(port, "/v1/publish/locations/" + id, &status);
    EXPECT_EQ(status, 200);
    EXPECT_GE(Strings(locations, "location").size(), 3u);
    EXPECT_NE(locations.find("\"Inactive\""), std::string::npos);
    std::string endoscopes = Get(port, "/v1/publish/endoscopes/" + id, &status);
    EXPECT_EQ(status, 200);
    std::vector<std::string> types = Strings(endoscopes, "endoscope");
    std::sort(types.begin(), types.end());
    EXPECT_GE(std::unique(types.begin(), types.end()) - types.begin(), 3);
    EXPECT_GE(Strings(Get(port, "/v1/publish/facilities/" + id, &status), "nameFacility").size(), 3u);
    EXPECT_EQ(status, 200);
    EXPECT_GE(Strings(Get(port, "/v1/publish/testers/" + id, &status), "first").size(), 3u);
    EXPECT_EQ(status, 200);
    Get(port, "/v1/auth/login?username=admin%40example.com&password=admin1234", &status);
    EXPECT_EQ(status, 200);

    ChildResult stop = RunCaptured(Quoted(StandinExePath()) + L" --stop --port " + std::to_wstring(port));
    ASSERT_TRUE(stop.started);
    EXPECT_EQ(stop.exitCode, 0u) << stop.output;
    EXPECT_EQ(standin.Finish(10000), 0) << standin.output;
    EXPECT_NE(standin.output.find("stopping after 6 requests"), std::string::npos) << standin.output;

    std::string logged = ReadBytes(log);
    EXPECT_NE(logged.find("#1 connection 1: GET /v1/auth/login?username=jdoe&password=demo1234\n"), std::string::npos)
        << logged;
    EXPECT_NE(logged.find("#6 connection 6: GET /v1/auth/login?username=admin%40example.com"), std::string::npos);
    DeleteFileW(log.c_str());

    ChildResult again = RunCaptured(Quoted(StandinExePath()) + L" --stop --port " + std::to_wstring(port));
    EXPECT_EQ(again.exitCode, 1u) << "--stop with none serving";
}

TEST(StandinExe, FailsClearlyOnATakenPortOrABadFixture) {
    cendra_standin::Server taken("");
    std::wstring port = std::to_wstring(taken.Port());
    ChildResult busy = RunCaptured(Quoted(StandinExePath()) + L" --port " + port);
    EXPECT_EQ(busy.exitCode, 2u);
    EXPECT_NE(busy.output.find("127.0.0.1:" + std::to_string(taken.Port())), std::string::npos) << busy.output;

    ChildResult missing = RunCaptured(Quoted(StandinExePath()) + L" --port 0 --fixture no_such_fixture.json");
    EXPECT_EQ(missing.exitCode, 2u);
    EXPECT_NE(missing.output.find("no_such_fixture.json"), std::string::npos) << missing.output;

    ChildResult usage = RunCaptured(Quoted(StandinExePath()) + L" --bogus");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_NE(usage.output.find("usage:"), std::string::npos) << usage.output;
}
