#include "tests/support/attach_checks.h"

#include "common/texts.h"

namespace rig {

void ExpectOnlyBoxes(const std::vector<ExpectedBox>& expected)
{
    const std::vector<RecordedBox> boxes = RecordedBoxes();
    ASSERT_EQ(boxes.size(), expected.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].owner, expected[i].owner) << boxes[i].text;
        EXPECT_EQ(boxes[i].text, expected[i].text);
        EXPECT_EQ(boxes[i].caption, dl::text::kPluginName);
        EXPECT_EQ(boxes[i].type, MB_OK | expected[i].icon) << boxes[i].text;
    }
}

void ExpectOnlyAttachment(HWND compose, const std::string& tempFolder, const std::string& fileName,
                          const std::string& bytes)
{
    const std::vector<host::Attachment> attachments = host::Attachments();
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(attachments[0].window, compose);
    EXPECT_EQ(attachments[0].path, tempFolder + fileName);
    EXPECT_TRUE(attachments[0].readable);
    EXPECT_EQ(attachments[0].bytes, bytes);
    EXPECT_EQ(List(tempFolder), std::vector<std::string>{}) << "the staging file is left behind";
}

}  // namespace rig
