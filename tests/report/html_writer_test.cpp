#include "report/html_writer.h"

#include <gtest/gtest.h>

#include "report/report_stream.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using test::RecordingUi;

TEST(HtmlWriter, HeaderWithoutCommentIs22CrLfLines) {
    RecordingUi ui;
    MemoryReportStream out(ui);
    WriteHeader("PC042.htm", "", out);
    const std::string expected =
        "<html><head>\r\n"
        "<title>PC042.htm</title>\r\n"
        "<!-- Version 4.1 -->\r\n"
        "<style type='text/css'>\r\n"
        "<!--\r\n"
        "body {  background-color: #FFFFFF;}\r\n"
        "td {font-family: Arial;     font-size: 11px; }\r\n"
        ".td1   { font-family: Arial;     font-size: 11px;  border: 1px solid #666666; }\r\n"
        "-->\r\n"
        "</style>\r\n"
        "</head>\r\n"
        "<body topmargin='0' leftmargin='0'>\r\n"
        "\r\n"
        "<table width='710' border='0' cellspacing='0' cellpadding='0'>\r\n"
        "<tr><td width='10' bgcolor='#d9d9d9'>&nbsp;</td>\r\n"
        "<td bgcolor='#d9d9d9' height='50'><font face='Arial' color='#000000' size='4'><strong>VELTRIX "
        "Result</strong></font>\r\n"
        "<td bgcolor='#d9d9d9' align='right'><font face='Arial' color='#f70816' size='4'><strong>NORVANE "
        "Computing GmbH&nbsp;&nbsp;</strong></font></td>\r\n"
        "<td width='10' bgcolor='#d9d9d9'>&nbsp;</td>\r\n"
        "</tr>\r\n"
        "<tr><td>&nbsp;</td><td colspan='3'>&nbsp;</td></tr>\r\n"
        "<tr><td>&nbsp;</td><td colspan='3'><font size='4'>Designation: PC042</font></td></tr>\r\n"
        "<tr><td>&nbsp;</td><td colspan='2'>\r\n";
    EXPECT_EQ(out.bytes(), expected);
    EXPECT_TRUE(ui.messages.empty());
}

TEST(HtmlWriter, OneCharacterCommentAddsLine22) {
    RecordingUi ui;
    MemoryReportStream out(ui);
    WriteHeader("abc.htm", "x", out);
    const std::string& b = out.bytes();
    std::size_t lines = 0;
    for (std::size_t i = 0; i + 1 < b.size(); ++i) lines += (b[i] == '\r' && b[i + 1] == '\n');
    EXPECT_EQ(lines, 23u);
    EXPECT_NE(b.find("<font size='4'>Designation: abc</font></td></tr>\r\n"
                     "<tr><td>&nbsp;</td><td colspan='3'><br><B>Comment:</B>&nbsp; x<br><br></font></td></tr>\r\n"
                     "<tr><td>&nbsp;</td><td colspan='2'>\r\n"),
              std::string::npos);
}

TEST(HtmlWriter, SectionOperationsAndFooter) {
    RecordingUi ui;
    MemoryReportStream out(ui);
    WriteTableHead("Bios", out);
    WriteRow("Manufacturer", "A<b>&amp;&nbsp;", out);
    WriteRow("Empty", "", out);
    WriteTableFoot(out);
    WriteFooter(out);
    EXPECT_EQ(out.bytes(),
              "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\r\n"
              "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' "
              "><strong>&nbsp;Bios</strong></td></tr>\r\n"
              "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Manufacturer</td><td width='550' "
              "bgcolor='#d9d9d9' class='td1'>A<b>&amp;&nbsp;</td></tr>\r\n"
              "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Empty</td><td width='550' bgcolor='#d9d9d9' "
              "class='td1'></td></tr>\r\n"
              "</table><br>\r\n"
              "</td></tr></table>\r\n"
              "</body></html>\r\n");
}

TEST(HtmlWriter, CharactersOutsideTheCodePageBecomeReferences) {
    RecordingUi ui;
    MemoryReportStream out(ui);
    WriteRow("\xC3\x9C" "ber", "\xE2\x82\xAC 5 \xE2\x80\x93 \xE4\xB8\xAD \xF0\x9F\x98\x80 \xFF", out);
    // Ü and € and – exist in Windows-1252; the CJK character and the emoji do
    // not; a stray invalid byte is kept visible as the replacement character.
    EXPECT_NE(out.bytes().find("\xDC" "ber</td>"), std::string::npos);
    EXPECT_NE(out.bytes().find("\x80 5 \x96 &#20013; &#128512; &#65533;</td>"), std::string::npos);
}

TEST(HtmlWriter, EachOperationReportsItsOwnWriteFailureOnceAndGoesOn) {
    RecordingUi ui;
    MemoryReportStream out(ui);
    out.failWrites(true);
    WriteHeader("a.htm", "c", out);
    WriteTableHead("T", out);
    WriteRow("l", "v", out);
    WriteTableFoot(out);
    WriteFooter(out);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{
                               "Error occure while writing the header of output-file.",
                               "Error occure while writing a head of table from output-file.",
                               "Error occure while writing a row of output-file.",
                               "Error occure while writing a footer of table from output-file.",
                               "Error occure while writing the footer of output-file.",
                           }));
    EXPECT_NE(ui.calls[0].find(",16,"), std::string::npos);  // critical icon, application title
}

}  // namespace
}  // namespace veltrix
