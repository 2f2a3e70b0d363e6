// Application icons through files at Windows paths: written as valid icon files (the default icon
// for an application without one), read from one image of an icon file, and the failures for
// files that are not icons or names that no file may have.
#include <fstream>

#include "qvcomsrv/store/icon.h"
#include "results.h"
#include "testing/module_test_support.h"

namespace qvcomsrv::testing {
namespace {

using sky::farm::Bytes;

Bytes readHost(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeHost(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class IconTest : public ObjectModelTest {};

TEST_F(IconTest, WriteIconToFileWritesTheApplicationsIcon) {
    auto farm = openFarm();
    sky::ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
    // As the export does it, on applications straight from the collection.
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        sky::Bstr name;
        ASSERT_EQ(app->get_AppName(name.put()), S_OK);
        sky::ComPtr<ISkyloomWinApp> settings;
        ASSERT_EQ(app->get_WinAppObject(settings.put()), S_OK);
        const std::string file = name.utf8() + ".ico";
        ASSERT_EQ(settings->WriteIconToFile(sky::Bstr(windowsPathOnC(file)).get()), S_OK)
            << failureText();
        const Bytes written = readHost(hostPathOnC(file));
        EXPECT_TRUE(sky::farm::checkIcon(written)) << file;
        if (name.utf8() == "Notepad")
            EXPECT_EQ(written, colourIcon(0xFF3060C0u));
        else
            EXPECT_EQ(written, sky::farm::defaultIcon()) << "no icon of its own";
    }
}

TEST_F(IconTest, ReadIconFromFileTakesTheImageAtTheIndex) {
    writeHost(hostPathOnC("three.ico"), iconFile({0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu}));
    auto app = openApplication("Applications/Office/Word");
    auto settings = app.as<ISkyloomWinApp4>();
    VARIANT_BOOL own = VARIANT_TRUE;
    ASSERT_EQ(settings->get_HasIcon(&own), S_OK);
    EXPECT_EQ(own, VARIANT_FALSE);

    ASSERT_EQ(settings->ReadIconFromFile(sky::Bstr(windowsPathOnC("THREE.ICO")).get(), 1), S_OK)
        << failureText();
    ASSERT_EQ(app->SaveData(), S_OK);
    EXPECT_EQ(stored("Applications/Office/Word").icon, colourIcon(0xFF00FF00u));

    // Written back out, it is that one image.
    ASSERT_EQ(settings->WriteIconToFile(sky::Bstr(windowsPathOnC("word.ico")).get()), S_OK);
    EXPECT_EQ(readHost(hostPathOnC("word.ico")), colourIcon(0xFF00FF00u));

    EXPECT_EQ(settings->ReadIconFromFile(sky::Bstr(windowsPathOnC("three.ico")).get(), 3),
              kNotFound);
    EXPECT_NE(failureText().find("holds 3"), std::string::npos) << failureText();
}

TEST_F(IconTest, AFileThatIsNoIconIsRefusedClearly) {
    {
        std::ofstream out(hostPathOnC("readme.ico"));
        out << "This is a text file with an icon's name.\n";
    }
    auto settings = openApplication("Applications/Notepad").as<ISkyloomWinApp4>();
    EXPECT_EQ(settings->ReadIconFromFile(sky::Bstr(windowsPathOnC("readme.ico")).get(), 0),
              kBadFileFormat);
    const std::string text = failureText();
    EXPECT_NE(text.find("C:\\readme.ico is not an icon file"), std::string::npos) << text;

    EXPECT_EQ(settings->ReadIconFromFile(sky::Bstr(windowsPathOnC("missing.ico")).get(), 0),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(failureText().find("missing.ico"), std::string::npos);

    // The application keeps its icon.
    sky::ComPtr<ISkyloomApplication5> app = settings.as<ISkyloomApplication5>();
    ASSERT_EQ(app->SaveData(), S_OK);
    EXPECT_EQ(stored("Applications/Notepad").icon, colourIcon(0xFF3060C0u));
}

TEST_F(IconTest, ANameNoFileMayHaveIsRefused) {
    auto settings = openApplication("Applications/Notepad").as<ISkyloomWinApp4>();
    EXPECT_EQ(settings->WriteIconToFile(sky::Bstr(windowsPathOnC("Word: 2003?.ico")).get()),
              kInvalidFileName);
    EXPECT_NE(failureText().find("not valid"), std::string::npos);
    EXPECT_EQ(settings->WriteIconToFile(sky::Bstr(windowsPathOnC("nofolder\\x.ico")).get()),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

TEST_F(IconTest, ResetIconGoesBackToTheDefault) {
    auto app = openApplication("Applications/Notepad");
    auto settings = app.as<ISkyloomWinApp4>();
    ASSERT_EQ(settings->ResetIcon(), S_OK);
    ASSERT_EQ(app->SaveData(), S_OK);
    EXPECT_EQ(stored("Applications/Notepad").icon, Bytes());
    ASSERT_EQ(settings->WriteIconToFile(sky::Bstr(windowsPathOnC("n.ico")).get()), S_OK);
    EXPECT_EQ(readHost(hostPathOnC("n.ico")), sky::farm::defaultIcon());
}

} // namespace
} // namespace qvcomsrv::testing
