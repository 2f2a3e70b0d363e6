#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "catalogue.h"
#include "sky/fifo_reader.h"
#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "test_support.h"
#include "typelib_builder.h"

namespace idlc {
namespace {

using namespace idlc::testing;

const char* const kFarmletCatalogue =
    "type descriptions: 14\n"
    "coclasses: 2\n"
    "interfaces: 8\n"
    "dual interfaces: 8\n"
    "hidden interfaces: 1\n"
    "enumerations: 2\n"
    "aliases: 2\n"
    "enumeration constants: 9\n"
    "families: 5\n"
    "members: 28\n"
    "property getters: 15\n"
    "property setters: 4\n"
    "methods: 9\n"
    "_NewEnum members: 1\n"
    "collections with Reset and Skip after Item: 1\n"
    "interface IFarmlet {5E1A0000-1111-4222-8333-000000000010} 1 7\n"
    "interface IFarmlet2 {5E1A0000-1111-4222-8333-000000000011} 2 4\n"
    "interface IFarmlet3 {5E1A0000-1111-4222-8333-000000000012} 3 6\n"
    "interface IFarmletSettings {5E1A0000-1111-4222-8333-000000000020} 1 3\n"
    "interface IFarmletSettings2 {5E1A0000-1111-4222-8333-000000000021} 2 1\n"
    "interface IFarmletItem {5E1A0000-1111-4222-8333-000000000030} 1 1\n"
    "interface IFarmletOwnedItem {5E1A0000-1111-4222-8333-000000000031} 2 1\n"
    "interface IFarmletItems {5E1A0000-1111-4222-8333-000000000040} 1 5\n";

TEST(Catalogue, OfTheTestLibraryFromItsIdl) {
    EXPECT_EQ(format(catalogueOf(farmlet())), kFarmletCatalogue);
}

TEST(Catalogue, ReadBackThroughTheTypeLibraryIsTheSame) {
    std::vector<unsigned char> image = sky::typelib::serialize(buildTypeLib(farmlet()));
    ITypeLib* lib = nullptr;
    ASSERT_EQ(sky::typelib::loadTypeLibFromMemory(image.data(), image.size(), &lib), S_OK);
    Catalogue c;
    EXPECT_EQ(catalogueOf(lib, c), S_OK);
    lib->Release();
    EXPECT_EQ(format(c), kFarmletCatalogue);
}

std::string run(const std::string& arguments) {
    auto out =
        std::filesystem::temp_directory_path() / ("idlc_out_" + std::to_string(getpid()) + ".txt");
    std::string command =
        (sky::testing::buildBin() / "idlc").string() + " " + arguments + " >" + out.string();
    int status = std::system(command.c_str());
    std::string text = readText(out.string());
    std::filesystem::remove(out);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "failed: " + text;
}

TEST(Idlc, PrintsTheSameCatalogueForTheIdlAndTheTlbItWrote) {
    EXPECT_EQ(run("--catalogue " IDLC_TESTDATA "/farmlet.idl"), kFarmletCatalogue);
    EXPECT_EQ(run("--catalogue " IDLC_FARMLET_TLB), kFarmletCatalogue);
}

// A program carries its library as a resource and, built here, has no extension: the file is read
// by the name given, not looked for as "<name>.dll".
TEST(Idlc, PrintsTheCatalogueOfAModuleWithoutExtension) {
    const std::filesystem::path module = sky::machine::root() / "farmlet";
    std::filesystem::copy_file(IDLC_FARMLET_MODULE, module);
    EXPECT_EQ(run("--catalogue " + module.string()), kFarmletCatalogue);
}

// Outputs that are no regular file (a FIFO here; /dev/null alike) are written into as they stand;
// a regular output is replaced whole.
TEST(Idlc, WritesIntoAFifoAndLeavesItAFifo) {
    const std::filesystem::path folder = sky::machine::root() / "out";
    std::filesystem::create_directories(folder);
    const std::filesystem::path fifo = folder / "farmlet.tlb";
    sky::testing::FifoReader reader(fifo);
    EXPECT_EQ(run(IDLC_TESTDATA "/farmlet.idl --tlb " + fifo.string()), "");
    EXPECT_EQ(reader.finish(), readText(IDLC_FARMLET_TLB));
    struct stat st {};
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"farmlet.tlb"}) << "no file beside it";
}

TEST(Idlc, HelpListsItsOptions) {
    std::string help = run("--help");
    for (const char* option : {"--header", "--dispatch", "--tlb", "--catalogue", "-o"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(Idlc, MisuseExitsWithTwoAndAFaultInTheFileWithOne) {
    const std::string idlc = (sky::testing::buildBin() / "idlc").string() + " ";
    const auto status = [&idlc](const std::string& arguments) {
        const int raw = std::system((idlc + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status("--no-such-option"), 2);
    EXPECT_EQ(status("a.idl b.idl"), 2);
    EXPECT_EQ(status(IDLC_TESTDATA "/farmlet.idl --tlb"), 2);
    const auto bad =
        std::filesystem::temp_directory_path() / ("idlc_bad_" + std::to_string(getpid()) + ".idl");
    std::FILE* file = std::fopen(bad.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("library {", file);
    std::fclose(file);
    EXPECT_EQ(status(bad.string()), 1);
    std::filesystem::remove(bad);
}

} // namespace
} // namespace idlc
