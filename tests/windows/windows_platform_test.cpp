#include "platform/windows/windows_platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/windows/utf16.h"
#include "platform/windows/windows_locale.h"
#include "support/temp_folder.h"

namespace veltrix {
namespace {

using test::TempFolder;

class NoMessages final : public Messages {
public:
    void messageBox(std::string_view, MessageStyle, std::string_view) override {}
};

class WindowsPlatformTest : public ::testing::Test {
protected:
    TempFolder folder;
    WindowsPlatform platform{folder.str(), folder.str() + "\\"};
    std::string path(const std::string& name) const { return folder.str() + "\\" + name; }
};

TEST_F(WindowsPlatformTest, JoinsWithBackslashAndFindsHiddenFiles) {
    EXPECT_EQ(platform.pathSeparator(), "\\");
    EXPECT_EQ(WindowsPlatform(".").systemDrive(), "C:\\");
    const std::string file = path("lang.txt");
    EXPECT_FALSE(platform.fileExists(file));
    ASSERT_TRUE(platform.createEmptyFile(file).ok());
    EXPECT_TRUE(platform.fileExists(file));
    ASSERT_TRUE(platform.setAttributes(file, kAttributeHidden).ok());
    EXPECT_TRUE(platform.fileExists(file));
    EXPECT_EQ(*platform.getAttributes(file) & kAttributeHidden, kAttributeHidden);
    ASSERT_TRUE(platform.setAttributes(file, kAttributeNormal).ok());
    EXPECT_EQ(*platform.getAttributes(file) & kAttributeHidden, 0);
    EXPECT_FALSE(platform.fileExists(folder.str()));  // a folder is not a file
}

TEST_F(WindowsPlatformTest, MissingFilesFailWithTheirPath) {
    const std::string missing = path("missing.txt");
    auto attributes = platform.getAttributes(missing);
    ASSERT_FALSE(attributes.ok());
    EXPECT_GT(attributes.failure().number, 0);
    EXPECT_NE(attributes.failure().description.find(missing), std::string::npos);
    EXPECT_FALSE(platform.setAttributes(missing, kAttributeHidden).ok());
    EXPECT_FALSE(platform.openTextFile(missing).ok());
    EXPECT_FALSE(platform.createEmptyFile(path("no-such-folder\\x.htm")).ok());
}

TEST_F(WindowsPlatformTest, ReadsLinesWithEitherLineEnd) {
    {
        std::ofstream out(path("868.dat"), std::ios::binary);
        out << "first\r\n\r\nsecond\nthird";
    }
    auto reader = platform.openTextFile(path("868.dat"));
    ASSERT_TRUE(reader.ok());
    std::vector<std::string> lines;
    for (;;) {
        auto line = (*reader)->readLine();
        ASSERT_TRUE(line.ok());
        if (!*line) break;
        lines.push_back(**line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"first", "", "second", "third"}));
}

TEST_F(WindowsPlatformTest, ReportsGoToNamesOutsideTheAnsiCodePage) {
    // A Cyrillic and an emoji name: the narrow C runtime could not open them.
    const std::string name = path("\xd0\x9f\xd0\x9a-\xf0\x9f\x98\x80.htm");
    NoMessages messages;
    ASSERT_TRUE(platform.createEmptyFile(name).ok());
    auto report = platform.openReport(name, messages);
    ASSERT_TRUE(report.ok()) << report.failure().description;
    ASSERT_TRUE((*report)->writeLine("caf\xc3\xa9").ok());
    ASSERT_TRUE((*report)->close().ok());
    std::ifstream in(std::filesystem::path(win::toWide(name)), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), "caf\xe9\r\n");
}

// Factory text files are written in the system's ANSI code page, which is
// not Windows-1252 everywhere (Cyrillic systems use 1251).
TEST_F(WindowsPlatformTest, TextLinesAreReadInTheAnsiCodePage) {
    EXPECT_EQ(WindowsPlatform(".", "C:\\", 1251).decodeTextLine("\xCF\xF0\xE8\xE2\xE5\xF2 1"),
              "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 1");  // "Привет 1"
    EXPECT_EQ(WindowsPlatform(".", "C:\\", 1252).decodeTextLine("Gr\xFC\xDF \x80"), "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC");
    EXPECT_EQ(WindowsPlatform(".", "C:\\", 1251).decodeTextLine(""), "");
    // Without a code page given, the system's own: the same as asking for it.
    const std::string bytes = "caf\xE9 \xC0";
    EXPECT_EQ(platform.decodeTextLine(bytes), WindowsPlatform(".", "C:\\", GetACP()).decodeTextLine(bytes));
}

TEST_F(WindowsPlatformTest, StartingAMissingProgramFailsAndARealOneDoesNotWait) {
    auto missing = platform.startProcess(path("ATVIEW32.exe"), "-scd");
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.failure.description.find("ATVIEW32.exe"), std::string::npos);

    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    // cmd.exe ends at once with /c; the call returns without waiting for it.
    EXPECT_TRUE(platform.startProcess(win::toUtf8(system) + "\\cmd.exe", "/c exit 0").ok());
}

TEST(WindowsProgramFolder, IsTheFolderOfTheRunningProgram) {
    std::string folder = executableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');  // the tests never run from a drive root
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    EXPECT_EQ(win::toUtf8(module).rfind(folder + "\\", 0), 0u);
}

TEST(WindowsLocaleTest, AnswersFromTheUserSettings) {
    WindowsLocale locale;
    for (int month = 1; month <= 12; ++month) EXPECT_FALSE(locale.monthName(month).empty()) << month;
    EXPECT_NE(locale.monthName(1), locale.monthName(2));
    char separator = locale.decimalSeparator();
    EXPECT_TRUE(separator == '.' || separator == ',') << separator;
    DateTime when{2024, 3, 9, 14, 5, 7};
    EXPECT_NE(locale.shortDate(when).find("2024"), std::string::npos);
    EXPECT_NE(locale.longTime(when).find("05"), std::string::npos);
}

// The shell is asked with COM on the calling thread, and the thread's
// apartment is as it was afterwards: none stays none, a multithreaded one
// stays multithreaded.
TEST_F(WindowsPlatformTest, OpeningWithTheShellLeavesTheThreadsApartmentAsItFoundIt) {
    const std::string missing = path("no-such-report.htm");
    HRESULT afterNone = E_FAIL, afterMultithreaded = E_FAIL;
    bool failedWithoutCom = false, failedWithCom = false;
    std::thread([&] {
        failedWithoutCom = !platform.openWithShell(missing).ok();
        // Left in a single-threaded apartment, this would be RPC_E_CHANGED_MODE.
        afterNone = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterNone)) CoUninitialize();
    }).join();
    std::thread([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
        failedWithCom = !platform.openWithShell(missing).ok();
        afterMultithreaded = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterMultithreaded)) CoUninitialize();
        CoUninitialize();
    }).join();
    EXPECT_TRUE(failedWithoutCom);
    EXPECT_TRUE(failedWithCom);
    EXPECT_EQ(afterNone, S_OK);
    EXPECT_EQ(afterMultithreaded, S_FALSE);  // the caller's apartment, still there
}

}  // namespace
}  // namespace veltrix
