#include <gtest/gtest.h>

#include <string>

#include "providers/linux/pci_ids.h"
#include "providers/linux/text_util.h"

using namespace veltrix::linux_provider;

TEST(IdsDatabase, HeadingsAnywhereInALongListWhateverTheLineEnds) {
    // Headings at every offset within the blocks the indexer reads at once,
    // the last one without a line end.
    for (const std::string eol : {"\n", "\r\n"}) {
        std::string text = "# list" + eol;
        for (int v = 1; v <= 40; ++v) {
            text += hex(0x1000 + v, 4) + "  Vendor " + std::to_string(v) + eol;
            for (int d = 0; d < v % 4; ++d) text += "\t" + hex(d, 4) + "  Device" + std::string(d, 'x') + eol;
            if (v % 7 == 0) text += eol + "#" + std::string(v % 5, 'c') + eol;
        }
        text += "C 03  Display controller";
        IdsDatabase ids("");
        ids.parse(text);
        for (int v = 1; v <= 40; ++v) {
            EXPECT_EQ(ids.vendor(static_cast<std::uint16_t>(0x1000 + v)), "Vendor " + std::to_string(v)) << v;
            if (v % 4 == 3) {
                EXPECT_EQ(ids.device(static_cast<std::uint16_t>(0x1000 + v), 2), std::optional<std::string>("Devicexx"));
            }
        }
        EXPECT_FALSE(ids.vendor(0x1000).has_value());
        EXPECT_FALSE(ids.vendor(0x0002).has_value());  // a device id, not a heading
        EXPECT_EQ(ids.className(0x03), std::optional<std::string>("Display controller"));
    }
}
