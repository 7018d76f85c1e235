#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_platform.h"
#include "support/file_text.h"
#include "support/temp_folder.h"

namespace veltrix {
namespace {

using test::TempFolder;

using test::readFile;

std::size_t entries(const TempFolder& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder.str()), {}));
}

class NoMessages final : public Messages {
public:
    void messageBox(std::string_view, MessageStyle, std::string_view) override {}
};

TEST(PosixFiles, AnOldReportStaysUntilTheNewOneIsComplete) {
    TempFolder folder;
    PosixPlatform platform(folder.str());
    const std::string path = (folder / "pc.htm").string();
    std::ofstream(path) << "old report";
    ::chmod(path.c_str(), 0640);

    // The name step only makes sure the file is there.
    ASSERT_TRUE(platform.createEmptyFile(path).ok());
    EXPECT_EQ(readFile(path), "old report");

    NoMessages messages;
    {
        auto report = platform.openReport(path, messages);
        ASSERT_TRUE(report.ok()) << report.failure().description;
        ASSERT_TRUE((*report)->writeLine("half").ok());
        // Abandoned without close (the scan stopped): nothing changes.
    }
    EXPECT_EQ(readFile(path), "old report");
    EXPECT_EQ(entries(folder), 1u);

    auto report = platform.openReport(path, messages);
    ASSERT_TRUE(report.ok());
    ASSERT_TRUE((*report)->writeLine("caf\xc3\xa9").ok());
    EXPECT_EQ(readFile(path), "old report");
    ASSERT_TRUE((*report)->close().ok());
    EXPECT_EQ(readFile(path), "caf\xe9\r\n");
    EXPECT_EQ(entries(folder), 1u);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // the old file's permissions are kept

    // A new file is made with the usual permissions, not private ones.
    auto fresh = platform.createReplacingFile((folder / "new.json").string());
    ASSERT_TRUE(fresh.ok());
    ASSERT_TRUE((*fresh)->write("{}").ok());
    ASSERT_TRUE((*fresh)->commit().ok());
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_EQ(::stat((folder / "new.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
}

TEST(PosixFiles, ReportLinesOfEverySizeKeepTheirOrderAndEncoding) {
    // Short lines gather in a buffer, lines as long as it go out at once,
    // long ASCII lines unencoded: the file must not show the difference.
    TempFolder folder;
    PosixPlatform platform(folder.str());
    const std::string path = (folder / "long.htm").string();
    NoMessages messages;
    auto report = platform.openReport(path, messages);
    ASSERT_TRUE(report.ok());
    std::string expected;
    for (const std::size_t size : {10u, 70000u, 3u, 5000u, 65534u, 65536u, 131072u, 4095u, 4096u, 1u}) {
        for (const bool latin : {false, true}) {
            std::string line(size, static_cast<char>('a' + size % 26));
            std::string encoded = line;
            if (latin) {
                line.replace(size / 2, 1, "\xc3\xa9");  // é, two bytes in UTF-8, one written
                encoded[size / 2] = '\xe9';
            }
            ASSERT_TRUE((*report)->writeLine(line).ok());
            expected += encoded + "\r\n";
        }
    }
    // A line in pieces: a long ASCII piece between encoded ones.
    const std::string list(70000, 'p');
    ASSERT_TRUE((*report)->writeLineOf({"<td>caf\xc3\xa9", list, "", "\xc3\xa9</td>"}).ok());
    ASSERT_TRUE((*report)->writeLineOf({list}).ok());
    expected += "<td>caf\xe9" + list + "\xe9</td>\r\n" + list + "\r\n";
    ASSERT_TRUE((*report)->close().ok());
    EXPECT_TRUE(readFile(path) == expected);  // not printed: megabytes
}

TEST(PosixFiles, FailuresNameThePathAndTheReason) {
    TempFolder folder;
    PosixPlatform platform(folder.str());
    std::ofstream(folder / "file") << "x";
    auto missing = platform.createReplacingFile(folder.str() + "/missing/a.htm");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.failure().description, "Cannot create " + folder.str() + "/missing/a.htm: No such file or directory");
    auto notFolder = platform.createEmptyFile(folder.str() + "/file/a.htm");
    ASSERT_FALSE(notFolder.ok());
    EXPECT_EQ(notFolder.failure.description, "Cannot create " + folder.str() + "/file/a.htm: Not a directory");
    // Replacing a folder fails at the move, and the temporary file goes.
    std::filesystem::create_directory(folder / "dir.htm");
    auto file = platform.createReplacingFile((folder / "dir.htm").string());
    ASSERT_TRUE(file.ok());
    ASSERT_TRUE((*file)->write("x").ok());
    auto committed = (*file)->commit();
    ASSERT_FALSE(committed.ok());
    EXPECT_NE(committed.failure.description.find("Cannot replace " + (folder / "dir.htm").string() + ": "),
              std::string::npos);
    EXPECT_EQ(entries(folder), 2u);
}

TEST(PosixFiles, TextFileLinesEndAtCrLfLfOrALoneCr) {
    TempFolder folder;
    PosixPlatform platform(folder.str());
    std::ofstream(folder / "868.dat", std::ios::binary) << "a\r\nb\nc\rd\r\r\ne\r";
    auto reader = platform.openTextFile((folder / "868.dat").string());
    ASSERT_TRUE(reader.ok());
    std::vector<std::string> lines;
    for (;;) {
        auto line = (*reader)->readLine();
        ASSERT_TRUE(line.ok());
        if (!*line) break;
        lines.push_back(**line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
}

TEST(PosixLocaleText, LocaleTextIsConvertedToUtf8) {
    EXPECT_EQ(localeTextToUtf8("d\xE9" "cembre", "ISO-8859-1"), "d\xC3\xA9" "cembre");
    EXPECT_EQ(localeTextToUtf8("M\xE4rz", "ISO-8859-15"), "M\xC3\xA4rz");
    EXPECT_EQ(localeTextToUtf8("d\xC3\xA9" "cembre", "UTF-8"), "d\xC3\xA9" "cembre");
    // A byte the character set does not have becomes U+FFFD, the rest stays.
    EXPECT_EQ(localeTextToUtf8("a\x80" "b", "ANSI_X3.4-1968"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(localeTextToUtf8("same", "NO-SUCH-CHARSET"), "same");
}

// The settings come from the environment as the process starts; one that
// names a locale this system lacks gives the C locale's, never a failure.
TEST(PosixLocaleText, EnvironmentsLocaleOrElseTheCLocale) {
    const char* before = std::getenv("LC_ALL");
    const std::string saved = before ? before : "";
    const DateTime when{2024, 3, 5, 14, 7, 9};
    for (const char* setting : {"C.UTF-8", "xx_NOWHERE.UTF-8"}) {
        ::setenv("LC_ALL", setting, 1);
        PosixLocale locale;
        EXPECT_EQ(locale.monthName(3), "March") << setting;
        EXPECT_EQ(locale.monthName(13), "") << setting;
        EXPECT_EQ(locale.decimalSeparator(), '.') << setting;
        EXPECT_EQ(locale.shortDate(when), "03/05/24") << setting;
        EXPECT_EQ(locale.longTime(when), "14:07:09") << setting;
    }
    if (before) {
        ::setenv("LC_ALL", saved.c_str(), 1);
    } else {
        ::unsetenv("LC_ALL");
    }
}

}  // namespace
}  // namespace veltrix
