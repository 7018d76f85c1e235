#include "wmi/moniker.h"

#include <gtest/gtest.h>

#include "wmi/service.h"

using veltrix::wmi::parseMoniker;

TEST(Moniker, AcceptsTheConnectionTextsInUse) {
    struct Case {
        std::string_view text;
        std::string nameSpace;
        std::string className;
    };
    const Case cases[] = {
        {veltrix::wmi::kWmiMoniker, "root\\cimv2", ""},
        {veltrix::wmi::kShortMoniker, "root\\cimv2", ""},
        {veltrix::wmi::kRegistryMoniker, "root\\default", "StdRegProv"},
        {"WINMGMTS:\\\\.\\Root\\CimV2", "root\\cimv2", ""},
        {"winmgmts:\\\\PC042\\root\\cimv2", "root\\cimv2", ""},
        {"winmgmts://pc042/root/WMI", "root\\wmi", ""},
    };
    for (const Case& c : cases) {
        auto m = parseMoniker(c.text, "PC042");
        ASSERT_TRUE(m.ok()) << c.text << ": " << m.failure().description;
        EXPECT_EQ(m->nameSpace, c.nameSpace) << c.text;
        EXPECT_EQ(m->className, c.className) << c.text;
    }
}

TEST(Moniker, RefusesOtherTextsWithAReason) {
    const std::string_view bad[] = {
        "",
        "winmgmt:\\\\.\\root\\cimv2",
        "winmgmts:{impersonationLevel=impersonate}\\\\.\\root\\cimv2",  // no '!'
        "winmgmts:{impersonationLevel=impersonate!\\\\.\\root\\cimv2",
        "winmgmts:root\\cimv2",
        "winmgmts:\\\\otherpc\\root\\cimv2",
        "winmgmts:\\\\.\\",
        "winmgmts:\\\\.\\root\\\\cimv2",
        "winmgmts:\\\\.\\root\\cimv2\\",
        "winmgmts://./root/default:",
        "winmgmts://./root/default:Std Reg",
        "winmgmts:\\\\\\root",
    };
    for (std::string_view text : bad) {
        auto m = parseMoniker(text, "PC042");
        ASSERT_FALSE(m.ok()) << text;
        EXPECT_GT(m.failure().number, 0);
        EXPECT_NE(m.failure().description.find("Invalid moniker"), std::string::npos) << text;
    }
    // Without a local name only "." is the local computer.
    EXPECT_FALSE(parseMoniker("winmgmts:\\\\PC042\\root\\cimv2").ok());
}

TEST(Moniker, LongTextsAreReadWithoutRecursion) {
    // The namespace is walked part by part: a hundred thousand parts read
    // like two, and a stray separator anywhere in them is still found.
    std::string deep = "winmgmts:\\\\.\\root";
    for (int i = 0; i < 100000; ++i) deep += "\\Part";
    auto m = parseMoniker(deep);
    ASSERT_TRUE(m.ok()) << m.failure().description.substr(0, 100);
    EXPECT_EQ(m->nameSpace.size(), 4 + 100000 * 5u);
    EXPECT_FALSE(parseMoniker(deep + "\\\\x").ok());
    EXPECT_FALSE(parseMoniker("winmgmts:" + std::string(100000, '{') + "!\\\\.\\root").ok());
}
