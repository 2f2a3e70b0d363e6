#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "sky/elf_file.h"
#include "sky/resources.h"
#include "test_modules.h"

namespace fs = std::filesystem;
using namespace sky::resources;
using sky::elf::AlignedBytes;

namespace {

AlignedBytes aligned(const std::vector<BYTE>& bytes) {
    AlignedBytes out(bytes.size());
    if (!bytes.empty())
        std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
}

std::vector<BYTE> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<Resource> sample() {
    return {
        {ResourceId::named(u"typelib"), 1, 1033, bytesOf("library")},
        {10, 5, 0, bytesOf("")},
        {10, ResourceId::named(u"Config"), 0x0407, bytesOf("german")},
        {10, ResourceId::named(u"Config"), 0x0409, bytesOf("english!")},
        {6, 7, 0x0409, bytesOf("block")},
    };
}

} // namespace

TEST(ResourceDirectory, RoundTripsSortedAndFindsNamesIgnoringCase) {
    Directory directory;
    ASSERT_TRUE(directory.parse(aligned(serialize(sample()))));
    const std::vector<Entry>& entries = directory.entries();
    ASSERT_EQ(entries.size(), 5u);
    // Identifiers before names, then by name and language.
    EXPECT_EQ(entries[0].type, ResourceId(6));
    EXPECT_EQ(entries[1].type, ResourceId(10));
    EXPECT_EQ(entries[1].name, ResourceId(5));
    EXPECT_EQ(entries[2].name.name(), u"CONFIG");
    EXPECT_EQ(entries[2].language, 0x0407);
    EXPECT_EQ(entries[4].type.name(), u"TYPELIB");
    for (const Entry& e : entries)
        EXPECT_EQ(reinterpret_cast<ULONG_PTR>(e.data.data()) % 8, 0u) << "aligned data";

    const auto config = directory.find(10, ResourceId::named(u"cOnFiG"));
    ASSERT_EQ(config.size(), 2u);
    EXPECT_EQ(std::string(config[1].data.begin(), config[1].data.end()), "english!");
    EXPECT_EQ(directory.find(ResourceId::named(u"TypeLib"), ResourceId::named(u"#1")).size(), 1u);
    EXPECT_TRUE(directory.find(10, 6).empty());
    EXPECT_TRUE(directory.hasType(ResourceId::named(u"TYPELIB")));
    EXPECT_FALSE(directory.hasType(3));
    EXPECT_EQ(directory.copy().size(), 5u);
}

TEST(ResourceDirectory, ParsesTheCommandLineForms) {
    EXPECT_EQ(ResourceId::parse("12"), ResourceId(12));
    EXPECT_EQ(ResourceId::parse("#12"), ResourceId(12));
    EXPECT_EQ(ResourceId::parse("0x0c"), ResourceId(12));
    EXPECT_EQ(ResourceId::parse("TypeLib").name(), u"TYPELIB");
    EXPECT_FALSE(ResourceId::parse("0").isId()) << "0 is no identifier";
    EXPECT_FALSE(ResourceId::parse("70000").isId());
    EXPECT_FALSE(ResourceId::parse("12abc").isId());
}

TEST(ResourceDirectory, RejectsTheSameResourceTwice) {
    std::vector<Resource> twice = sample();
    twice.push_back({10, ResourceId::named(u"CONFIG"), 0x0409, bytesOf("again")});
    EXPECT_THROW(serialize(twice), std::invalid_argument);
}

TEST(ResourceDirectory, SurvivesEveryDamagedByteAndEveryCut) {
    const std::vector<BYTE> good = serialize(sample());
    Directory directory;
    // Every byte of the directory part set to values that break offsets, counts and lengths.
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (const BYTE value : {BYTE(0x00), BYTE(0x01), BYTE(0x7f), BYTE(0x80), BYTE(0xff)}) {
            std::vector<BYTE> bad = good;
            bad[i] = value;
            if (directory.parse(aligned(bad))) {
                // Whatever the parser accepts can be read in full (the sanitizers watch).
                unsigned sum = 0;
                for (const Entry& e : directory.entries()) {
                    EXPECT_LE(e.data.size(), good.size());
                    for (const BYTE b : e.data)
                        sum += b;
                    for (const char16_t c : e.name.name())
                        sum += c;
                }
                volatile unsigned sink = sum;
                (void)sink;
            } else {
                EXPECT_TRUE(directory.entries().empty());
            }
        }
    }
    for (std::size_t length = 0; length < good.size(); ++length) {
        const std::vector<BYTE> cut(good.begin(), good.begin() + static_cast<long>(length));
        EXPECT_FALSE(directory.parse(aligned(cut))) << length;
    }
}

TEST(ResourceDirectory, RefusesATotalShorterThanItsHeaderWhateverTheCount) {
    // The entries a total leaves room for are counted from the end of the header: a total short of
    // the header must not count as room for every entry (a count of four billion was reserved).
    std::vector<BYTE> bad = serialize(sample());
    for (const std::uint32_t total : {0u, 8u, 15u}) {
        for (std::size_t i = 0; i < 4; ++i) {
            bad[8 + i] = 0xff; // count
            bad[12 + i] = static_cast<BYTE>(total >> (8 * i));
        }
        Directory directory;
        EXPECT_FALSE(directory.parse(aligned(bad))) << total;
        EXPECT_TRUE(directory.entries().empty());
    }
}

TEST(StringBlock, SplitsCountedStringsAndToleratesACut) {
    // Three strings ("a", "", "bc") and a fourth cut short.
    const std::vector<BYTE> block = {1, 0, 'a', 0, 0, 0, 2, 0, 'b', 0, 'c', 0, 5, 0, 'x', 0};
    std::u16string_view strings[16];
    EXPECT_FALSE(splitStringBlock(block, strings));
    EXPECT_EQ(strings[0], u"a");
    EXPECT_EQ(strings[1], u"");
    EXPECT_EQ(strings[2], u"bc");
    EXPECT_EQ(strings[3], u"");
    EXPECT_EQ(strings[15], u"");
}

TEST(ElfFile, ReplacesASectionInPlaceOfTheOldOne) {
    const fs::path original = sky::testing::builtModule("skytest_code.dll");
    const std::string image = sky::testing::readFile(original);
    const std::vector<BYTE> bytes(image.begin(), image.end());

    const std::vector<BYTE> small = bytesOf("first contents");
    const std::vector<BYTE> once = sky::elf::withSection(bytes, ".skytest", small);
    const std::vector<BYTE> twice = sky::elf::withSection(once, ".skytest", small);
    EXPECT_EQ(once, twice) << "replacing leaves no dead copy behind";
    const std::vector<BYTE> bigger(5000, 0xAB);
    const std::vector<BYTE> grown = sky::elf::withSection(twice, ".skytest", bigger);

    const fs::path copy = sky::machine::driveC() / "edited.dll";
    sky::testing::writeFile(copy, std::string(grown.begin(), grown.end()));
    AlignedBytes read;
    ASSERT_EQ(sky::elf::readSection(copy, ".skytest", read), sky::elf::Status::Ok);
    EXPECT_EQ(std::vector<BYTE>(read.data(), read.data() + read.size()), bigger);
    // The resources put in after linking are still there, and the code still runs.
    ASSERT_EQ(sky::elf::readSection(copy, kSectionName, read), sky::elf::Status::Ok);
    const HMODULE module = LoadLibraryW(u"C:\\edited.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    using Add = int (*)(int, int);
    const auto add =
        reinterpret_cast<Add>(reinterpret_cast<void (*)()>(GetProcAddress(module, "SkyTestAdd")));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 3), 5);
    FreeLibrary(module);

    EXPECT_EQ(sky::elf::readSection(copy, ".nosuchsection", read), sky::elf::Status::NoSection);
    EXPECT_THROW(sky::elf::withSection(bytesOf("not an ELF file at all, just text"), ".x", small),
                 std::runtime_error);
    EXPECT_THROW(sky::elf::withSection(bytes, ".text", small), std::runtime_error)
        << "a loaded section cannot be replaced";
}
