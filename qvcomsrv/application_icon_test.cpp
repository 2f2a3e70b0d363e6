// Application icons through files at Windows paths: written as valid icon files (the default icon
// for an application without one), read from one image of an icon file, and the failures for
// files that are not icons or names that no file may have.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <vector>

#include "qvcomsrv/store/icon.h"
#include "results.h"
#include "testing/module_test_support.h"

// Truncates asked for by this process (the module included: the program exports the name, so the
// module's call comes here). Each goes on to the system as the C library's would.
namespace {
std::atomic<int> truncates{0};
} // namespace

extern "C" int ftruncate(int fd, off_t length) {
    truncates.fetch_add(1, std::memory_order_relaxed);
    return static_cast<int>(::syscall(SYS_ftruncate, fd, length));
}

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

// A file is cut only when it held more than the icon: a new or empty file (the export's scratch
// file, made for the call) is written without any truncate, since ext4 writes out a file truncated
// to nothing when it is closed. Whatever the file held before, it ends as the icon alone.
TEST_F(IconTest, WriteIconToFileTruncatesOnlyAFileLongerThanTheIcon) {
    auto settings = openApplication("Applications/Notepad").as<ISkyloomWinApp4>();
    const Bytes icon = colourIcon(0xFF3060C0u);
    auto write = [&](const std::string& file) {
        const int before = truncates.load();
        EXPECT_EQ(settings->WriteIconToFile(sky::Bstr(windowsPathOnC(file)).get()), S_OK)
            << failureText();
        EXPECT_EQ(readHost(hostPathOnC(file)), icon) << file;
        return truncates.load() - before;
    };
    // Ten new files, as an export of ten applications writes them: no truncate at all.
    int onNew = 0;
    for (int i = 0; i < 10; ++i)
        onNew += write("new" + std::to_string(i) + ".ico");
    EXPECT_EQ(onNew, 0);
    writeHost(hostPathOnC("empty.ico"), Bytes());
    EXPECT_EQ(write("empty.ico"), 0);
    writeHost(hostPathOnC("short.ico"), Bytes(icon.size() / 2, 0x55));
    EXPECT_EQ(write("short.ico"), 0);
    Bytes longer(icon.size() * 3, 0x55);
    writeHost(hostPathOnC("long.ico"), longer);
    EXPECT_EQ(write("long.ico"), 1) << "the old tail is cut once";
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

// Only regular files are read or written, and opening something else never waits: a named pipe
// nobody writes to (which held the service's serving thread in open() for good), a folder, a
// socket and a device node are refused at once, and none of them is written to.
TEST_F(IconTest, OnlyRegularFilesAreReadOrWrittenAndNothingWaits) {
    ASSERT_EQ(::mkfifo(hostPathOnC("pipe.ico").c_str(), 0600), 0);
    std::filesystem::create_directory(hostPathOnC("folder.ico"));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = hostPathOnC("socket.ico").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::vector<std::string> names = {"pipe.ico", "folder.ico", "socket.ico"};
    // A device node of our own in the test's machine (the null device's numbers); the real
    // devices are never touched. Making one takes root.
    if (::geteuid() == 0 &&
        ::mknod(hostPathOnC("device.ico").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        names.push_back("device.ico");

    auto settings = openApplication("Applications/Notepad").as<ISkyloomWinApp4>();
    for (const std::string& name : names) {
        const sky::Bstr path(windowsPathOnC(name));
        EXPECT_EQ(settings->ReadIconFromFile(path.get(), 0),
                  HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
            << name;
        EXPECT_NE(failureText().find("not a file"), std::string::npos) << failureText();
        EXPECT_EQ(settings->WriteIconToFile(path.get()), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
            << name;
    }
    ::close(listener);
    // The application keeps its icon.
    sky::ComPtr<ISkyloomApplication5> app = settings.as<ISkyloomApplication5>();
    ASSERT_EQ(app->SaveData(), S_OK);
    EXPECT_EQ(stored("Applications/Notepad").icon, colourIcon(0xFF3060C0u));
}

// Icon files are capped at 4 MiB: a 2 GB sparse file named as an icon is refused before it is
// read (it used to be read whole into the service's memory), and so is one byte past the cap.
TEST_F(IconTest, AnIconFileLargerThanTheCapIsRefusedBeforeItIsRead) {
    auto settings = openApplication("Applications/Notepad").as<ISkyloomWinApp4>();
    const auto refused = [&](const std::string& name, std::uintmax_t size) {
        { std::ofstream create(hostPathOnC(name)); }
        std::filesystem::resize_file(hostPathOnC(name), size);
        EXPECT_EQ(settings->ReadIconFromFile(sky::Bstr(windowsPathOnC(name)).get(), 0),
                  HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE))
            << name;
        EXPECT_NE(failureText().find("larger than 4 MiB (4194304 bytes)"), std::string::npos)
            << failureText();
    };
    refused("huge.ico", std::uintmax_t{2} << 30);
    refused("over.ico", sky::farm::kIconFileLimit + 1);
    // At the cap it is read, and judged as an icon.
    Bytes atCap = iconFile({0xFFFF0000u});
    atCap.resize(sky::farm::kIconFileLimit);
    writeHost(hostPathOnC("cap.ico"), atCap);
    EXPECT_EQ(settings->ReadIconFromFile(sky::Bstr(windowsPathOnC("cap.ico")).get(), 0), S_OK)
        << failureText();
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
