#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "base64.h"
#include "demo_farm.h"
#include "farm_json.h"
#include "qvcomsrv/store/icon.h"
#include "sky/heap_tally.h"

using namespace sky;
using namespace sky::qvfarm;

namespace {

std::string errorOf(std::string_view json) {
    auto image = farmFromJson(json);
    EXPECT_FALSE(image);
    return image ? std::string() : image.status().message();
}

std::string withApplication(const std::string& app) {
    return R"({"farm": {"name": "F"}, "applications": [)" + app + "]}";
}

// A demonstration farm made to measure, its applications in the image.
farm::FarmImage largeFarm(std::size_t applications) {
    LargeDemoFarm demo = largeDemoFarm("Large", "tester", applications, 20);
    std::vector<farm::Application> batch;
    while (demo.applications(demo.image.applications.size(), batch)) {
        for (farm::Application& app : batch)
            demo.image.applications.push_back(std::move(app));
        batch.clear();
    }
    return demo.image;
}

} // namespace

TEST(Base64, RoundTripsEveryLength) {
    farm::Bytes bytes;
    for (int n = 0; n < 40; ++n) {
        EXPECT_EQ(*fromBase64(toBase64(bytes)), bytes) << n;
        bytes.push_back(static_cast<std::uint8_t>(n * 97 + 13));
    }
    EXPECT_EQ(toBase64({'M', 'a', 'n'}), "TWFu");
    EXPECT_EQ(toBase64({'M', 'a'}), "TWE=");
    EXPECT_EQ(toBase64({'M'}), "TQ==");
    for (const char* bad : {"TWF", "TW=u", "T===", "TQ==TQ==", "TWF!", "TW u"})
        EXPECT_FALSE(fromBase64(bad)) << bad;
}

TEST(FarmJson, AFarmComesBackAsItWasWritten) {
    farm::FarmImage image = demoFarm("Round Trip", "tester");
    image.applications[3].icon = farm::Bytes(); // one without an icon of its own
    auto back = farmFromJson(*farmToJson(image));
    ASSERT_TRUE(back) << back.status().toString();
    EXPECT_EQ(*back, image);
    EXPECT_EQ(*farmToJson(*back), *farmToJson(image));
}

// The applications are written one at a time into the rest of the document: the text is laid
// out exactly as the whole farm dumped as one document (which parsing it and dumping it again
// gives), with no application, with one, and with many of every shape.
TEST(FarmJson, ApplicationsWrittenOneAtATimeAreLaidOutAsOneDocument) {
    farm::FarmImage image = demoFarm("Layout", "tester");
    image.applications[3].icon = farm::Bytes();
    image.applications[4].servers.clear();
    image.applications[4].users.clear();
    image.administrators.push_back("applications go here");
    for (std::size_t count : {std::size_t{0}, std::size_t{1}, image.applications.size()}) {
        farm::FarmImage part = image;
        part.applications.resize(count);
        const auto text = farmToJson(part);
        ASSERT_TRUE(text) << text.status().toString();
        EXPECT_EQ(*text, nlohmann::ordered_json::parse(*text).dump(2) + "\n") << count;
        auto back = farmFromJson(*text);
        ASSERT_TRUE(back) << back.status().toString();
        EXPECT_EQ(*back, part);
    }
}

TEST(FarmJson, AFarmWithoutSessionReliabilityLeavesItsSettingsOut) {
    farm::FarmImage image;
    image.farm.name = "Older";
    image.farm.reportsSessionReliability = false;
    const std::string json = *farmToJson(image);
    EXPECT_EQ(json.find("SRPort"), std::string::npos);
    EXPECT_NE(json.find("\"LumoEnumMode\""), std::string::npos);
    EXPECT_EQ(*farmFromJson(json), image);
    EXPECT_EQ(errorOf(R"({"farm": {"name": "Older", "reportsSessionReliability": false,
                                   "settings": {"SRPort": 1}}})"),
              "/farm/settings/SRPort: the farm does not report session reliability settings.");
}

TEST(FarmJson, WhatAFileLeavesOutTakesItsDefault) {
    auto image = farmFromJson(withApplication(R"({"distinguishedName": "Applications/A/Calc",
                                                   "settings": {"DefaultWindowType": 8}})"));
    ASSERT_TRUE(image) << image.status().toString();
    EXPECT_TRUE(image->farm.reportsSessionReliability);
    EXPECT_EQ(image->farm.settings, farm::FarmSettings());
    EXPECT_TRUE(image->servers.empty());
    ASSERT_EQ(image->applications.size(), 1u);
    const farm::Application& app = image->applications[0];
    EXPECT_EQ(app.name, "Calc");
    EXPECT_EQ(app.folder, "Applications/A");
    EXPECT_EQ(app.type, farm::kWindowsApplicationType);
    EXPECT_EQ(app.settings.number(farm::AppSetting::DefaultWindowType), 8);
    EXPECT_EQ(app.settings.number(farm::AppSetting::EnableApp), 1);
    EXPECT_EQ(app.icon, farm::Bytes()); // the default icon
}

TEST(FarmJson, MalformedTextSaysWhere) {
    EXPECT_EQ(errorOf("{\n  \"farm\": {\"name\": \"X\",}\n}"),
              "parse error at line 2, column 24: syntax error while parsing object key - "
              "unexpected '}'; expected string literal");
    EXPECT_EQ(errorOf(""), "parse error at line 1, column 1: syntax error while parsing value - "
                           "unexpected end of input; expected '[', '{', or a literal");
}

TEST(FarmJson, MistakesAreNamedByTheirPlace) {
    EXPECT_EQ(errorOf("[]"), "/: expected an object, found array.");
    EXPECT_EQ(errorOf("{}"), "/: \"farm\" is missing.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": ""}})"), "/farm/name: the farm name must not be empty.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F", "colour": 1}})"), "/farm: unknown key \"colour\".");
    EXPECT_EQ(errorOf(R"({"format": "other", "farm": {"name": "F"}})"),
              "/format: this is not a farm dump (\"other\").");
    EXPECT_EQ(errorOf(R"({"version": 2, "farm": {"name": "F"}})"),
              "/version: version 2 is not known; qvfarm reads version 1.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F", "settings": {"MaxConnections": 1}}})"),
              "/farm/settings/MaxConnections: there is no setting \"MaxConnections\".");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F", "settings": {"SRPort": "2598"}}})"),
              "/farm/settings/SRPort: expected an integer, found string.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F", "settings": {"SRPort": 4294967296}}})"),
              "/farm/settings/SRPort: the number does not fit in 32 bits.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F", "settings": {"SRPort": 1.5}}})"),
              "/farm/settings/SRPort: expected an integer, found number.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F"}, "servers": [{"name": "S", "zone": "Z"}]})"),
              "/servers/0: \"osVersion\" is missing.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F"}, "folders": ["Office"]})"),
              "/folders/0: \"Office\" is not a distinguished name: it must begin with "
              "\"Applications\".");
    EXPECT_EQ(errorOf(withApplication(R"({"distinguishedName": "Applications"})")),
              "/applications/0/distinguishedName: \"Applications\" names the root folder, not "
              "an application.");
    EXPECT_EQ(errorOf(withApplication(R"({"distinguishedName": "Applications/A",
                                          "settings": {"LumoAttributes": 64}})")),
              "/applications/0/settings/LumoAttributes: The value 64 is not valid for "
              "LumoAttributes: QVWinAppLumoAttribute takes a combination of 1, 2, 4, 8 and 16.");
    EXPECT_EQ(errorOf(withApplication(R"({"distinguishedName": "Applications/A", "type": 99})")),
              "/applications/0/type: The application type 99 is not valid: SkyloomObjectType "
              "takes 0 to 35.");
    EXPECT_EQ(errorOf(withApplication(R"({"distinguishedName": "Applications/A",
                                          "users": [{"accountType": 2, "authorityType": 9,
                                                     "name": "x"}]})")),
              "/applications/0/users/0: The account authority type 9 of x is not valid: "
              "QVAccountAuthorityType takes 0 to 3.");
    EXPECT_EQ(errorOf(withApplication(R"({"distinguishedName": "Applications/A",
                                          "icon": "not base64!"})")),
              "/applications/0/icon: the icon is not valid base64.");
    EXPECT_EQ(errorOf(withApplication(R"({"distinguishedName": "Applications/A",
                                          "icon": "AAABAAAA"})")),
              "/applications/0/icon: The icon file holds no image.");
}

// The applications are made one at a time as the text is read, but what is said of a text is what
// the whole document's checks say: malformed text or a key given twice anywhere first, then the
// document's other members (wherever they stand in the text), then the first application at
// fault. Only the root's "applications" are read so.
TEST(FarmJson, MistakesAreSaidAsOfTheWholeDocument) {
    const std::string badApp = R"({"distinguishedName": "Applications"})";
    const std::string badAppSays = "/applications/0/distinguishedName: \"Applications\" names the "
                                   "root folder, not an application.";
    EXPECT_EQ(
        errorOf(R"({"farm": {"name": "F"}, "applications": [)" + badApp + R"(], "zones": [})"),
        "parse error at line 1, column 92: syntax error while parsing value - unexpected "
        "'}'; expected '[', '{', or a literal");
    EXPECT_EQ(errorOf(R"({"applications": [)" + badApp + R"(], "farm": {"name": ""}})"),
              "/farm/name: the farm name must not be empty.");
    EXPECT_EQ(errorOf(R"({"applications": [)" + badApp + R"(], "farm": {"name": "F"}, "farm": 1})"),
              "/: the key \"farm\" appears twice.");
    EXPECT_EQ(errorOf(R"({"applications": [], "applications": []})"),
              "/: the key \"applications\" appears twice.");
    EXPECT_EQ(errorOf(withApplication(R"({"distinguishedName": "Applications/A"}, )" + badApp +
                                      ", " + badApp)),
              "/applications/1/distinguishedName: \"Applications\" names the root folder, not an "
              "application.");
    EXPECT_EQ(errorOf(R"({"applications": [)" + badApp + R"(], "farm": {"name": "F"}})"),
              badAppSays);
    EXPECT_EQ(errorOf(withApplication("7")), "/applications/0: expected an object, found number.");
    EXPECT_EQ(errorOf(withApplication(R"([{"distinguishedName": "Applications/A"}])")),
              "/applications/0: expected an object, found array.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F"}, "applications": {}})"),
              "/applications: expected an array, found object.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F", "applications": []}})"),
              "/farm: unknown key \"applications\".");
    EXPECT_EQ(errorOf(R"([{"farm": {"name": "F"}, "applications": []}])"),
              "/: expected an object, found array.");

    // Applications before the rest of the document, and nested containers within them.
    auto image = farmFromJson(R"({"applications": [{"distinguishedName": "Applications/A/B",
        "users": [{"accountType": 2, "authorityType": 1, "name": "x"}], "servers": ["S"]},
        {"distinguishedName": "Applications/C"}], "farm": {"name": "F"},
        "servers": [{"name": "S", "zone": "Z", "osVersion": {"major": 5, "minor": 0}}]})");
    ASSERT_TRUE(image) << image.status().toString();
    ASSERT_EQ(image->applications.size(), 2u);
    EXPECT_EQ(image->applications[0].distinguishedName(), "Applications/A/B");
    EXPECT_EQ(image->applications[0].users.at(0).name, "x");
    EXPECT_EQ(image->applications[0].servers, std::vector<std::string>{"S"});
    EXPECT_EQ(image->applications[1].distinguishedName(), "Applications/C");
    EXPECT_EQ(image->servers.at(0).osMinor, 0);

    // A stream says the same as a text in memory.
    for (const std::string& text :
         {R"({"applications": [)" + badApp + R"(], "farm": {"name": "F"}})",
          std::string("{\n  \"farm\": {\"name\": \"X\",}\n}")}) {
        std::istringstream in(text);
        auto streamed = farmFromJson(in);
        ASSERT_FALSE(streamed);
        EXPECT_EQ(streamed.status().message(), errorOf(text));
    }
}

TEST(FarmJson, NumbersNoDoubleCanHoldAreRefusedNotCrashedOn) {
    for (const char* number : {"1e999", "-1e999", "1e400"}) {
        EXPECT_EQ(errorOf(std::string(R"({"version": )") + number + R"(, "farm": {"name": "F"}})"),
                  std::string("number overflow parsing '") + number + "'")
            << number;
        EXPECT_EQ(errorOf(std::string(R"({"farm": {"name": "F", "settings": {"SRPort": )") +
                          number + "}}}"),
                  std::string("number overflow parsing '") + number + "'")
            << number;
    }
}

TEST(FarmJson, AKeyGivenTwiceIsRefusedWithItsPlace) {
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F"}, "farm": {"name": "G"}})"),
              "/: the key \"farm\" appears twice.");
    EXPECT_EQ(errorOf(R"({"farm": {"name": "F", "settings": {"SRPort": 1, "SRPort": 2}}})"),
              "/farm/settings: the key \"SRPort\" appears twice.");
    EXPECT_EQ(errorOf(withApplication(R"({"distinguishedName": "Applications/A"},
                                         {"distinguishedName": "Applications/B",
                                          "users": [{"accountType": 2, "authorityType": 1,
                                                     "name": "x", "name": "y"}]})")),
              "/applications/1/users/0: the key \"name\" appears twice.");
    // The same key in two objects is no repetition.
    EXPECT_TRUE(farmFromJson(withApplication(R"({"distinguishedName": "Applications/A"},
                                                {"distinguishedName": "Applications/B"})")));
}

TEST(FarmJson, TextThatIsNotUtf8IsReportedNotCrashedOn) {
    farm::FarmImage image = demoFarm("Damaged", "tester");
    image.applications[2].description = "caf\xE9";
    auto json = farmToJson(image);
    ASSERT_FALSE(json);
    EXPECT_EQ(json.status().code(), farm::Status::Code::Corrupt);
    EXPECT_EQ(json.status().message(), "it holds text that is not valid UTF-8 (/applications/2/"
                                       "description).");
    image.applications[2].description = "fine";
    image.administrators.push_back("\xFF\xFE");
    json = farmToJson(image);
    ASSERT_FALSE(json);
    EXPECT_NE(json.status().message().find("/administrators/"), std::string::npos)
        << json.status().message();
}

// Reading a farm's text holds, beside the farm it makes, one application's part of the document
// at a time (and the stream's buffer), from a text in memory or from a stream: the whole
// document held beside the farm took more than the text itself.
TEST(FarmJson, ReadingHoldsOneApplicationsDocumentAtATime) {
    const farm::FarmImage image = largeFarm(400);
    const std::string text = *farmToJson(image);
    for (const bool streamed : {false, true}) {
        std::istringstream in(text);
        sky::testing::HeapTally tally;
        auto back = streamed ? farmFromJson(in) : farmFromJson(text);
        const long long beyondTheFarm = tally.peak() - tally.held();
        ASSERT_TRUE(back) << back.status().toString();
        EXPECT_EQ(*back, image);
        EXPECT_LT(beyondTheFarm, static_cast<long long>(text.size() / 10))
            << (streamed ? "from a stream" : "from a text in memory");
    }
}

// The text of a farm goes out a piece at a time as it is made: what is held beside the farm is
// one application's document and text, not the whole text (which farmToJson held, and gives).
TEST(FarmJson, WritingHoldsOneApplicationsTextAtATime) {
    const farm::FarmImage image = largeFarm(400);
    const std::string whole = *farmToJson(image);
    std::string written;
    written.reserve(whole.size());
    std::size_t pieces = 0;
    sky::testing::HeapTally tally;
    const farm::Status status = writeFarmJson(image, [&](std::string_view piece) {
        written += piece;
        ++pieces;
        return true;
    });
    const long long peak = tally.peak();
    ASSERT_TRUE(status) << status.toString();
    EXPECT_EQ(written, whole);
    EXPECT_GT(pieces, image.applications.size());
    EXPECT_LT(peak, static_cast<long long>(whole.size() / 10));

    // A write that fails stops the writing there.
    pieces = 0;
    EXPECT_EQ(writeFarmJson(image, [&](std::string_view) { return ++pieces < 3; }).code(),
              farm::Status::Code::IOError);
    EXPECT_EQ(pieces, 3u);
}

// Text that is not UTF-8 is found before anything is written, as the JSON writer would refuse it
// (every lead byte, with the second bytes at the edges of its ranges, in sequences of two, three
// and four bytes); text it takes is written.
TEST(FarmJson, TextThatIsNotUtf8IsFoundBeforeAnythingIsWritten) {
    farm::FarmImage image;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int second : {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF}) {
            for (const char* rest : {"", "\x80", "\x80\xBF"}) {
                const std::string text =
                    std::string{static_cast<char>(lead), static_cast<char>(second)} + rest;
                bool taken = true;
                try {
                    (void)nlohmann::ordered_json(text).dump();
                } catch (const nlohmann::ordered_json::type_error&) {
                    taken = false;
                }
                image.farm.name = "Farm " + text;
                std::size_t bytes = 0;
                const farm::Status status = writeFarmJson(image, [&](std::string_view piece) {
                    bytes += piece.size();
                    return true;
                });
                EXPECT_EQ(static_cast<bool>(status), taken) << lead << " " << second << rest;
                if (!taken) {
                    EXPECT_EQ(bytes, 0u);
                    EXPECT_EQ(status.message(),
                              "it holds text that is not valid UTF-8 (/farm/name).");
                }
            }
        }
    }
}
