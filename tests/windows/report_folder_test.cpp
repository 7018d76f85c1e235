#include "platform/windows/report_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace veltrix {
namespace {

TEST(ReportFolderTest, AWritableProgramFolderKeepsTheReportsAndNoProbe) {
    test::TempFolder folder;
    EXPECT_TRUE(win::canCreateFilesIn(folder.str()));
    EXPECT_EQ(win::desktopReportFolder(folder.str()), folder.str());
    EXPECT_TRUE(std::filesystem::is_empty(folder.str()));
}

TEST(ReportFolderTest, AFolderThatTakesNoFileSendsTheReportsToDocuments) {
    test::TempFolder folder;
    const std::string missing = folder.str() + "\\not-there";
    const std::string documents = win::documentsFolder();
    ASSERT_FALSE(documents.empty());
    EXPECT_FALSE(win::canCreateFilesIn(missing));
    EXPECT_EQ(win::desktopReportFolder(missing), documents);
    EXPECT_TRUE(win::canCreateFilesIn(documents));
}

}  // namespace
}  // namespace veltrix
