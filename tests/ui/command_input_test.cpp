// The inputs the command line reads: standard input, pipes and files within a
// size bound; folders and devices refused with what they are.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <thread>

#include "support/temp_folder.h"
#include "ui/console/command_input.h"

namespace veltrix {
namespace {

using test::TempFolder;

TEST(CommandInput, ReadsStandardInputPipesAndFilesUpToTheBound) {
    TempFolder folder;
    std::FILE* in = std::tmpfile();
    std::fputs("0123456789", in);
    std::rewind(in);
    auto whole = ReadCommandInput("-", in, 10);
    ASSERT_TRUE(whole.ok()) << whole.failure().description;
    EXPECT_EQ(*whole, "0123456789");
    std::rewind(in);
    auto over = ReadCommandInput("-", in, 9);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.failure().description.rfind("standard input: larger than", 0), 0u) << over.failure().description;
    std::fclose(in);

#ifndef _WIN32
    // More than one read's worth through a pipe, which has no size to ask for.
    const auto fifo = folder / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big(200000, 'x');
    std::thread writer([&] { std::ofstream(fifo) << big; });
    auto piped = ReadCommandInput(fifo.string(), nullptr);
    writer.join();
    ASSERT_TRUE(piped.ok()) << piped.failure().description;
    EXPECT_EQ(piped->size(), big.size());
#endif

    const std::string content(200000, 'y');
    std::ofstream(folder / "file") << content;
    EXPECT_FALSE(ReadCommandInput((folder / "file").string(), nullptr, content.size() - 1).ok());
    EXPECT_TRUE(ReadCommandInput((folder / "file").string(), nullptr, content.size()).ok());
}

TEST(CommandInput, FoldersDevicesAndMissingFilesSayWhatTheyAre) {
    TempFolder folder;
    auto dir = ReadCommandInput(folder.str(), nullptr);
    ASSERT_FALSE(dir.ok());
    EXPECT_EQ(dir.failure().description, folder.str() + ": is a folder, not a regular file (for a captured system "
                                         "use veltrix --batch --sysroot " + folder.str() + " --name NAME)");
#ifndef _WIN32
    auto device = ReadCommandInput("/dev/zero", nullptr);
    ASSERT_FALSE(device.ok());
    EXPECT_EQ(device.failure().description, "/dev/zero: not a regular file");
#endif
    auto missing = ReadCommandInput(folder.str() + "/none.json", nullptr);
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.failure().description.find("none.json: cannot open the file"), std::string::npos);
    // A name that would steer the terminal is shown escaped.
    auto hostile = ReadCommandInput(folder.str() + "/\x1b[2Jx\n.json", nullptr);
    ASSERT_FALSE(hostile.ok());
    EXPECT_NE(hostile.failure().description.find("/\\x1B[2Jx\\x0A.json: cannot open"), std::string::npos)
        << hostile.failure().description;
}

}  // namespace
}  // namespace veltrix
