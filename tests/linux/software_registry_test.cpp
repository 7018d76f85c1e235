#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "providers/linux/dpkg_status.h"
#include "providers/linux/software_registry.h"

using namespace veltrix::linux_provider;

namespace {
const std::string kNative(kUninstallKey);
const std::string kForeign(kForeignUninstallKey);

RegistryTree desktop() {
    return buildSoftwareRegistry({{"dpkg", "1.21", "amd64"},
                                  {"bash", "5.2", "amd64"},
                                  {"libc6", "2.36", "amd64"},
                                  {"libc6", "2.36-i", "i386"},
                                  {"tzdata", "2024a", "all"},
                                  {"bad\\name", "1", "amd64"}});
}
}  // namespace

TEST(SoftwareRegistry, ProgramsAnswerAnySpellingOfTheirPath) {
    RegistryTree tree = desktop();
    for (const std::string& path :
         std::initializer_list<std::string>{kNative + "\\bash", "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\BASH",
          "\\\\software\\\\microsoft\\windows\\currentversion\\uninstall\\\\Bash\\\\",
          "software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\bash\\"}) {
        EXPECT_EQ(tree.value(path, "DisplayName"), std::optional<std::string>("bash")) << path;
        EXPECT_EQ(tree.value(path, "displayversion"), std::optional<std::string>("5.2")) << path;
    }
    EXPECT_FALSE(tree.value(kNative + "\\bas", "DisplayName").has_value());
    EXPECT_FALSE(tree.value(kNative + "\\bash", "Display").has_value());
    EXPECT_FALSE(tree.value(kNative + "\\bash\\sub", "DisplayName").has_value());
    EXPECT_FALSE(tree.value(kNative + "x\\bash", "DisplayName").has_value());
    EXPECT_FALSE(tree.value("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstal\\bash", "DisplayName"));
}

TEST(SoftwareRegistry, ForeignPackagesSitUnderTheOtherKeyAndNamelessOnesAreLeftOut) {
    RegistryTree tree = desktop();
    EXPECT_EQ(*tree.subkeys(kNative), (std::vector<std::string>{"dpkg", "bash", "libc6", "tzdata"}));
    EXPECT_EQ(*tree.subkeys(kForeign), (std::vector<std::string>{"libc6:i386"}));
    EXPECT_EQ(tree.value(kNative + "\\libc6", "DisplayVersion"), std::optional<std::string>("2.36"));
    EXPECT_EQ(tree.value(kForeign + "\\LIBC6:I386", "DisplayVersion"), std::optional<std::string>("2.36-i"));
    EXPECT_EQ(tree.value(kForeign + "\\libc6:i386", "DisplayName"), std::optional<std::string>("libc6"));
    EXPECT_FALSE(tree.value(kForeign + "\\libc6", "DisplayName").has_value());
    EXPECT_FALSE(tree.subkeys(kNative + "\\bad").has_value());
}

TEST(SoftwareRegistry, KeysBelowAProgramAndProgramsAddedByPathShareOneTree) {
    RegistryTree tree;
    tree.setValue(kNative + "\\\\Editor\\Plugins\\Spell", "Version", "3");
    tree.setValue(kNative + "\\editor", "DisplayName", "Editor");
    tree.setValues("software\\microsoft\\windows\\currentversion\\uninstall\\EDITOR\\",
                   {{"displayname", "Editor 2"}, {"DisplayVersion", "2.0"}});
    EXPECT_EQ(*tree.subkeys(kNative), (std::vector<std::string>{"Editor"}));
    EXPECT_EQ(*tree.subkeys(kNative + "\\Editor"), (std::vector<std::string>{"Plugins"}));
    EXPECT_EQ(*tree.subkeys(kNative + "\\editor\\plugins"), (std::vector<std::string>{"Spell"}));
    EXPECT_EQ(tree.value(kNative + "\\Editor\\Plugins\\Spell", "version"), std::optional<std::string>("3"));
    EXPECT_EQ(tree.value(kNative + "\\Editor", "DisplayName"), std::optional<std::string>("Editor 2"));
    EXPECT_EQ(tree.value(kNative + "\\Editor", "DisplayVersion"), std::optional<std::string>("2.0"));
    EXPECT_EQ(*tree.subkeys("Software\\Microsoft"), (std::vector<std::string>{"Windows"}));
}

TEST(DpkgStatus, FieldsWithAKeptFieldsPrefixAreNotTakenForIt) {
    auto packages = parseDpkgStatus(
        "Package: a\nPackage-Type: udeb\nStatus: install ok installed\nStatusX: no\nVersions: 9\nVersion: 1\n"
        "Architectures: x\nArchitecture: amd64\nPackage : b\n\t\nPackage: c\nStatus: deinstall ok config-files\n");
    ASSERT_EQ(packages.size(), 1u);
    EXPECT_EQ(packages[0].name, "a");
    EXPECT_EQ(packages[0].version, "1");
    EXPECT_EQ(packages[0].architecture, "amd64");
}

TEST(SoftwareRegistry, ProgramsOfEveryNameLengthAnswerInAnyLetterCase) {
    // Names of every length around the eight letters looked at together,
    // found in their own spelling, in capitals and in small letters; a name
    // listed twice takes the later version.
    std::deque<std::string> texts;  // what the packages' views point into
    std::vector<InstalledPackage> packages;
    for (std::size_t n = 1; n <= 40; ++n)
        packages.push_back({texts.emplace_back("Pkg" + std::string(n, 'a' + n % 26) + "-Z"),
                            texts.emplace_back(std::to_string(n)), "amd64"});
    packages.push_back({"Pkgb-Z", "again", "amd64"});
    RegistryTree tree = buildSoftwareRegistry(packages);
    EXPECT_EQ(tree.subkeys(kNative)->size(), 40u);
    for (std::size_t n = 1; n <= 40; ++n) {
        const std::string name(packages[n - 1].name);
        std::string upper = name, lower = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string version = n == 1 ? "again" : std::to_string(n);
        for (const std::string& spelling : {name, upper, lower}) {
            EXPECT_EQ(tree.value(kNative + "\\" + spelling, "DisplayVersion"), version) << spelling;
            EXPECT_EQ(tree.value(kNative + "\\" + spelling, "DISPLAYNAME"), name) << spelling;
        }
        EXPECT_FALSE(tree.value(kNative + "\\" + name + "@", "DisplayName").has_value());
    }
}

TEST(SoftwareRegistry, ManyProgramsAddedByPathAndPackageValuesSetOver) {
    // Programs added one by one, past every growth of the index, answer by
    // name and keep their order; a value set on a package's program wins
    // over the package's own, and the package still answers the other.
    RegistryTree tree = desktop();
    std::vector<std::string> names{"dpkg", "bash", "libc6", "tzdata"};
    for (int n = 0; n < 1500; ++n) {
        names.push_back("Program " + std::to_string(n));
        tree.setValue(kNative + "\\" + names.back(), "DisplayVersion", std::to_string(n));
    }
    EXPECT_EQ(*tree.subkeys(kNative), names);
    for (int n = 0; n < 1500; n += 7)
        EXPECT_EQ(tree.value(kNative + "\\PROGRAM " + std::to_string(n), "displayversion"), std::to_string(n)) << n;
    EXPECT_FALSE(tree.value(kNative + "\\Program 1500", "DisplayVersion").has_value());
    tree.setValue(kNative + "\\BASH", "displayversion", "6.0");
    tree.setValue(kNative + "\\bash", "ParentKeyName", "shell");
    EXPECT_EQ(tree.value(kNative + "\\bash", "DisplayVersion"), std::optional<std::string>("6.0"));
    EXPECT_EQ(tree.value(kNative + "\\bash", "DisplayName"), std::optional<std::string>("bash"));
    EXPECT_EQ(tree.value(kNative + "\\bash", "ParentKeyName"), std::optional<std::string>("shell"));
    EXPECT_FALSE(tree.value(kNative + "\\dpkg", "ParentKeyName").has_value());
    // Moved, the tree still answers: its views point into what it keeps.
    RegistryTree moved = std::move(tree);
    EXPECT_EQ(moved.value(kNative + "\\program 1499", "DisplayVersion"), std::optional<std::string>("1499"));
    EXPECT_EQ(moved.subkeys(kNative)->back(), "Program 1499");
}

#ifdef VELTRIX_LINE_SCAN_AVX2
// The package scan passes most lines over a vector of bytes at a time; each
// width the processor offers must stop at exactly the lines a byte-by-byte
// reading says can matter (kept fields, blank lines, lines opening with two
// blanks), whatever their length and wherever they fall in the vector.
TEST(DpkgStatus, EveryVectorWidthFindsTheLinesThatMayMatter) {
    const char* const openings[] = {"Package: p", "Version: 1", "Architecture: all", "Status: install ok installed",
                                    "Pa", "Ve", "Depends: libc6", " continued", "  ", "\t\t", "\t x", "St", "Ar",
                                    "Description: text", "P", ""};
    std::string text;
    for (int n = 0; text.size() < 3 * 4096; ++n) {
        text += openings[n % std::size(openings)] + std::string(n % 37, 'x') + '\n';
    }
    using namespace veltrix::linux_provider::dpkg_status_detail;
    constexpr std::size_t kPage = 4096;
    std::vector<std::uint32_t> expected;
    for (std::size_t i = 0; i < kPage; ++i)
        if (text[i] == '\n' && mayMatterAt(text, i + 1)) expected.push_back(static_cast<std::uint32_t>(i + 1));
    ASSERT_GT(expected.size(), 100u);
    std::vector<std::uint32_t> got(kPage);
    if (__builtin_cpu_supports("avx2")) {
        got.resize(keptFieldStartsAvx2(text.data(), 0, kPage, got.data()));
        EXPECT_EQ(got, expected) << "32 bytes";
    }
    got.assign(kPage, 0);
    if (__builtin_cpu_supports("avx512bw")) {
        got.resize(keptFieldStartsAvx512(text.data(), 0, kPage, got.data()));
        EXPECT_EQ(got, expected) << "64 bytes";
    }
}
#endif
