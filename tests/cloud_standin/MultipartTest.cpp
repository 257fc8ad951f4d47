// The stand-in's multipart splitter on hand-written bodies: what it returns is what the upload
// tests compare against, so a part that swallows or loses bytes would hide client faults.
#include <gtest/gtest.h>

#include "standins/cloud/CendraStandin.h"

using cendra_standin::ParseMultipart;
using cendra_standin::Part;

namespace {

const std::string kType = "multipart/form-data; boundary=------------------------d74496d66958873e";
const std::string kDash = "--------------------------d74496d66958873e";

// Bytes that look like delimiters to a careless parser: CR LF, "--", the boundary without its
// leading CR LF, the boundary with a suffix, a NUL.
const std::string kTricky = std::string("line1\r\n--\r\n\r\n--x\r\n") + kDash.substr(2) + "\r\n" + "\r\n" + kDash +
                            "X\r\n" + std::string(1, '\0') + "end\r\n";

std::string Body() {
    return "preamble to skip\r\n" + kDash + "\r\n" +
           "Content-Disposition: form-data; name=\"user_type\"\r\n\r\n"
           "user\r\n" +
           kDash + "\r\n" +
           "Content-Disposition: form-data; name=\"Image\"; filename=\"caf\xC3\xA9 1.bmp\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           kTricky + "\r\n" + kDash + "\r\n" +
           "Content-Disposition: form-data; name=\"Recommended_Action\"\r\n\r\n"
           "\r\n" +
           kDash + "  \r\n" +  // transport padding after a delimiter is allowed
           "Content-Disposition: form-data; name=\"Comments\"\r\n\r\n" + "--\r\n--" + "\r\n" + kDash + "--\r\n" +
           "epilogue\r\n" + kDash + "\r\nContent-Disposition: form-data; name=\"after_end\"\r\n\r\nx\r\n";
}

}  // namespace

TEST(Multipart, SplitsPartsWithDelimiterLikeBytesIntact) {
    std::vector<Part> parts = ParseMultipart(kType, Body());
    ASSERT_EQ(parts.size(), 4u);

    EXPECT_EQ(parts[0].name, "user_type");
    EXPECT_EQ(parts[0].bytes, "user");
    EXPECT_FALSE(parts[0].hasFilename);
    EXPECT_EQ(parts[0].contentType, "");
    ASSERT_EQ(parts[0].headers.size(), 1u);
    EXPECT_EQ(parts[0].headers[0].first, "Content-Disposition");
    EXPECT_EQ(parts[0].headers[0].second, "form-data; name=\"user_type\"");

    EXPECT_EQ(parts[1].name, "Image");
    EXPECT_TRUE(parts[1].hasFilename);
    EXPECT_EQ(parts[1].filename, "caf\xC3\xA9 1.bmp");
    EXPECT_EQ(parts[1].contentType, "application/octet-stream");
    EXPECT_EQ(parts[1].headers.size(), 2u);
    EXPECT_EQ(parts[1].bytes, kTricky);

    EXPECT_EQ(parts[2].name, "Recommended_Action");
    EXPECT_EQ(parts[2].bytes, "");

    EXPECT_EQ(parts[3].name, "Comments");
    EXPECT_EQ(parts[3].bytes, "--\r\n--");
}

TEST(Multipart, HeaderForms) {
    struct Case {
        const char* what;
        std::string type;
        std::string part;  // headers and content between the delimiters
        std::string name, filename, bytes;
        bool hasFilename;
    };
    const Case cases[] = {
        {"quoted boundary", "multipart/form-data; boundary=\"b\"",
         "Content-Disposition: form-data; name=\"a\"\r\n\r\nv", "a", "", "v", false},
        {"boundary not last, other case", "Multipart/Form-Data; BOUNDARY=b; charset=x",
         "content-disposition: form-data; name=a\r\n\r\nv", "a", "", "v", false},
        {"escaped quote and ; in the name", "multipart/form-data; boundary=b",
         "Content-Disposition: form-data; name=\"x\\\"y;z\"\r\n\r\nv", "x\"y;z", "", "v", false},
        {"empty filename", "multipart/form-data; boundary=b",
         "Content-Disposition: form-data; name=\"f\"; filename=\"\"\r\n\r\n", "f", "", "", true},
        {"no headers", "multipart/form-data; boundary=b", "\r\nv", "", "", "v", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Part> parts = ParseMultipart(c.type, "--b\r\n" + c.part + "\r\n--b--\r\n");
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].name, c.name);
        EXPECT_EQ(parts[0].filename, c.filename);
        EXPECT_EQ(parts[0].hasFilename, c.hasFilename);
        EXPECT_EQ(parts[0].bytes, c.bytes);
    }
}

TEST(Multipart, MalformedBodiesGiveThePartsCompleteSoFar) {
    const std::string type = "multipart/form-data; boundary=b";
    const std::string one = "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n";
    EXPECT_EQ(ParseMultipart(type, one + "--b\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2").size(), 1u)
        << "no closing delimiter";
    EXPECT_EQ(ParseMultipart(type, one + "--b\r\nContent-Disposition: form-").size(), 1u) << "headers cut short";
    EXPECT_TRUE(ParseMultipart("multipart/form-data", one + "--b--").empty()) << "no boundary parameter";
    EXPECT_TRUE(ParseMultipart(type, "").empty());
    EXPECT_TRUE(ParseMultipart(type, "--b--\r\n").empty());
}
