#include "wmi/wql/query.h"

#include <gtest/gtest.h>

#include "wmi/property_object.h"

using veltrix::wmi::PropertyObject;
using veltrix::wmi::Value;
namespace wql = veltrix::wmi::wql;

namespace {

bool where(std::string_view condition, const PropertyObject& object) {
    auto query = wql::parse("SELECT * FROM C WHERE " + std::string(condition));
    EXPECT_TRUE(query.ok()) << condition << ": " << (query.ok() ? "" : query.failure().description);
    return query.ok() && wql::matches(*query, object);
}

PropertyObject sample() {
    PropertyObject o;
    o.set("Size", Value::text("500107862016"))
        .set("Small", Value::text("9"))
        .set("Count", Value::int32(10))
        .set("Code", Value::int32(0))
        .set("Name", Value::text("Intel(R) PCI Express Root Port"))
        .set("ConnId", Value::text("Ethernet"))
        .set("Empty", Value::text(""))
        .set("Missing", Value::null())
        .set("Flag", Value::boolean(true))
        .set("Score", Value::real32(5.9f))
        .set("Path", Value::text("C:\\Windows"));
    return o;
}

}  // namespace

TEST(Wql, ParsesTheQueriesTheCollectorsSend) {
    struct Case {
        std::string_view text;
        std::vector<std::string> properties;
        std::string className;
        bool hasWhere;
    };
    const Case cases[] = {
        {"Select * from Win32_Bios", {}, "Win32_Bios", false},
        {"SELECT SerialNumber FROM Win32_SystemEnclosure", {"SerialNumber"}, "Win32_SystemEnclosure", false},
        {"SELECT AttachedTo,Caption FROM Win32_POTSModem WHERE PNPDeviceID IS NOT NULL", {"AttachedTo", "Caption"},
         "Win32_POTSModem", true},
        {"Select * from Win32_DiskDrive Where Size >'268435456'", {}, "Win32_DiskDrive", true},
        {"SELECT * FROM Win32_NetworkAdapter WHERE NetConnectionID  > 0 ", {}, "Win32_NetworkAdapter", true},
        {"Select * from Win32_PnPEntity Where ConfigManagerErrorCode <> '0'", {}, "Win32_PnPEntity", true},
        {"SELECT * FROM Win32_PnPSignedDriver WHERE (Location LIKE '%PCI%') OR DeviceClass='USB' OR "
         "DeviceClass='HDC' OR (DeviceID LIKE '%NRV0%')",
         {}, "Win32_PnPSignedDriver", true},
        {"SELECT MACAddress FROM Win32_NetworkAdapter WHERE Name = 'Realtek PCIe GbE' ", {"MACAddress"},
         "Win32_NetworkAdapter", true},
        {"select * from win32_logicaldisk where DriveType ='2'", {}, "win32_logicaldisk", true},
    };
    for (const Case& c : cases) {
        auto q = wql::parse(c.text);
        ASSERT_TRUE(q.ok()) << c.text << ": " << q.failure().description;
        EXPECT_EQ(q->properties, c.properties) << c.text;
        EXPECT_EQ(q->className, c.className) << c.text;
        EXPECT_EQ(q->where != nullptr, c.hasWhere) << c.text;
    }
}

TEST(Wql, ComparesAsNumbersWhenBothSidesAreNumbersElseAsText) {
    const PropertyObject o = sample();
    struct Case {
        std::string_view condition;
        bool expected;
    };
    const Case cases[] = {
        {"Size > '268435456'", true},          // 64-bit size as text against a quoted number
        {"Size < 268435456", false},
        {"Size = '500107862016'", true},
        {"Size = 500107862017", false},       // exact, even beyond double precision limits of int32
        {"Small < '10'", true},               // '9' vs '10': numeric, not text order
        {"Small < Count", true},
        {"Count = '10'", true},
        {"Code <> '0'", false},
        {"Code = 0", true},
        {"Code >= -1", true},
        {"Score > 5.8", true},
        {"Score < 6", true},
        {"ConnId > 0", true},                 // text against number: text order, "ethernet" > "0"
        {"Empty > 0", false},                 // "" sorts before "0"
        {"Name = 'intel(r) pci express root port'", true},
        {"Name <> 'Intel(R) PCI Express Root Port'", false},
        {"Name != 'other'", true},
        {"Name >= 'intel'", true},
        {"Path = 'C:\\\\Windows'", true},
        {"Path = 'C:\\Windows'", true},       // a lone backslash stands for itself
        {"Flag = TRUE", true},
        {"Flag = 'true'", true},
        {"Flag <> FALSE", true},
        {"Flag = 1", true},
        {"Flag = 0", false},
    };
    for (const Case& c : cases) EXPECT_EQ(where(c.condition, o), c.expected) << c.condition;
}

TEST(Wql, NullNeverCompares) {
    const PropertyObject o = sample();
    for (std::string_view condition :
         {"Missing = ''", "Missing <> ''", "Missing < 1", "Missing >= 0", "Missing = NULL", "Missing LIKE '%'",
          "Absent = 'x'", "Absent <> 'x'", "Name = NULL", "Name <> NULL"}) {
        EXPECT_FALSE(where(condition, o)) << condition;
    }
}

TEST(Wql, IsNullAndIsNotNull) {
    const PropertyObject o = sample();
    EXPECT_TRUE(where("Missing IS NULL", o));
    EXPECT_FALSE(where("Missing IS NOT NULL", o));
    EXPECT_TRUE(where("Absent is null", o));  // a property the object lacks reads as Null
    EXPECT_TRUE(where("Empty IS NOT NULL", o));
    EXPECT_FALSE(where("Code IS NULL", o));
}

TEST(Wql, Like) {
    struct Case {
        std::string_view text, pattern;
        bool expected;
    };
    const Case cases[] = {
        {"PCI\\VEN_8086", "%PCI%", true},
        {"pci bus 0", "%PCI%", true},
        {"USB", "%PCI%", false},
        {"abc", "a_c", true},
        {"abbc", "a_c", false},
        {"ä1", "_1", true},  // '_' is one character, not one byte
        {"b7", "[a-c]7", true},
        {"B7", "[a-c]7", true},
        {"d7", "[a-c]7", false},
        {"x", "[xyz]", true},
        {"x", "[^xyz]", false},
        {"w", "[^xyz]", true},
        {"-", "[a-]", true},
        {"50%", "50[%]", true},
        {"5_", "5[_]", true},
        {"", "%", true},
        {"", "_", false},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "%a%a%a%a%a%a%c", false},
        {"ROOT\\NRV0\\0000", "%NRV0%", true},
        {"abc", "abc%%", true},
        {"abcd", "abc", false},
    };
    for (const Case& c : cases) {
        PropertyObject o;
        o.set("P", Value::text(std::string(c.text)));
        std::string literal;
        for (char ch : c.pattern) {
            if (ch == '\\' || ch == '\'') literal += '\\';
            literal += ch;
        }
        EXPECT_EQ(where("P LIKE '" + literal + "'", o), c.expected) << c.text << " LIKE " << c.pattern;
        EXPECT_EQ(where("P NOT LIKE '" + literal + "'", o), !c.expected) << c.text << " NOT LIKE " << c.pattern;
    }
}

TEST(Wql, NotBindsTighterThanAndWhichBindsTighterThanOr) {
    PropertyObject o;
    o.set("A", Value::int32(1)).set("B", Value::int32(0)).set("C", Value::int32(1));
    struct Case {
        std::string_view condition;
        bool expected;
    };
    const Case cases[] = {
        {"A = 1 OR B = 1 AND C = 0", true},    // A=1 OR (B=1 AND C=0)
        {"(A = 1 OR B = 1) AND C = 0", false},
        {"NOT A = 1 OR C = 1", true},          // (NOT A=1) OR C=1
        {"NOT (A = 1 OR C = 1)", false},
        {"NOT A = 1 AND C = 1", false},
        {"NOT NOT A = 1", true},
        {"B = 1 OR B = 2 OR C = 1", true},
        {"((A = 1)) AND ((C = 1))", true},
        {"NOT Missing = 1", true},            // two-valued: the comparison is false, NOT makes it true
    };
    for (const Case& c : cases) EXPECT_EQ(where(c.condition, o), c.expected) << c.condition;
}

TEST(Wql, SyntaxErrorsNamePositionAndExpectation) {
    struct Case {
        std::string_view text;
        std::string_view message;
    };
    const Case cases[] = {
        {"", "at position 1 expected SELECT, found the end of the query"},
        {"SELECT FROM X", "at position 8 expected a property name or *"},
        {"SELECT * X", "at position 10 expected FROM, found 'X'"},
        {"SELECT a b FROM X", "at position 10 expected FROM or ,"},
        {"SELECT * FROM", "at position 14 expected a class name, found the end of the query"},
        {"SELECT * FROM X WHERE", "at position 22 expected a property name or a literal"},
        {"SELECT * FROM X WHERE A", "at position 24 expected a comparison operator, LIKE or IS"},
        {"SELECT * FROM X WHERE A = 'x", "expected the closing '"},
        {"SELECT * FROM X WHERE (A = 1", "at position 29 expected AND, OR or )"},
        {"SELECT * FROM X WHERE A IS 1", "at position 28 expected NULL or NOT"},
        {"SELECT * FROM X WHERE A = 1 B", "at position 29 expected AND, OR or the end of the query"},
        {"SELECT * FROM X Y", "at position 17 expected WHERE or the end of the query"},
        {"SELECT * FROM X WHERE A LIKE '[ab'", "at position 30 expected a LIKE pattern whose [ is closed"},
        {"SELECT * FROM X WHERE A = #", "at position 27 expected a name, a literal or an operator, found '#'"},
        {"SELECT * FROM X WHERE A = 12ab", "at position 29 expected a separator after the number"},
        {"SELECT * FROM WHERE", "expected a class name, found 'WHERE'"},
    };
    for (const Case& c : cases) {
        auto q = wql::parse(c.text);
        ASSERT_FALSE(q.ok()) << c.text;
        EXPECT_GT(q.failure().number, 0);
        EXPECT_NE(q.failure().description.find(c.message), std::string::npos)
            << c.text << " -> " << q.failure().description;
    }
}

TEST(Wql, DeepNestingIsRefusedWithAMessageNotAStackOverflow) {
    auto repeat = [](std::string_view piece, std::size_t times) {
        std::string out;
        out.reserve(piece.size() * times);
        for (std::size_t i = 0; i < times; ++i) out += piece;
        return out;
    };
    const std::string base = "SELECT * FROM C WHERE ";
    const std::string hostile[] = {
        base + repeat("NOT ", 100000) + "Code = 0",
        base + repeat("(", 100000) + "Code = 0" + repeat(")", 100000),
        base + "Code = 0" + repeat(" OR Code = 1", 200000),
        base + "Code = 0" + repeat(" AND Code = 1", 20000),
        // Shallow pieces that only add up: chains inside parentheses under NOTs.
        base + repeat("NOT (Code = 0 OR ", 200) + "Code = 1" + repeat(" OR Code = 2)", 200),
    };
    for (const std::string& text : hostile) {
        auto q = wql::parse(text);
        ASSERT_FALSE(q.ok()) << text.substr(0, 60);
        EXPECT_EQ(q.failure().number, 4119);
        EXPECT_NE(q.failure().description.find("nests deeper than 256 levels"), std::string::npos)
            << q.failure().description;
    }
    EXPECT_EQ(wql::parse(base + repeat("NOT ", 300) + "Code = 0").failure().description,
              "Invalid query: at position 1043 the condition nests deeper than 256 levels");

    // Up to the limit the query still reads and evaluates as written.
    const PropertyObject o = sample();
    EXPECT_TRUE(where(repeat("NOT ", 254) + "Code = 0", o));
    EXPECT_FALSE(where(repeat("NOT ", 255) + "Code = 0", o));
    EXPECT_TRUE(where(repeat("(", 255) + "Code = 0" + repeat(")", 255), o));
    EXPECT_TRUE(where("Code = 1" + repeat(" OR Code = 1", 254) + " OR Code = 0", o));
}
