#include "WindowFixture.h"
#include "ui/JpegImage.h"
#include "ui/PanelPictureData.h"

#include <QLabel>
#include <vector>

TEST(PanelPictures, AllThreeDecodeTo44By44) {
    const std::vector<std::pair<const unsigned char*, std::size_t>> pictures = {
        {ui::kPanelPicture1, ui::kPanelPicture1Size},
        {ui::kPanelPicture2, ui::kPanelPicture2Size},
        {ui::kPanelPicture3, ui::kPanelPicture3Size}};
    for (const auto& [data, size] : pictures) {
        const QImage image = ui::DecodeJpeg(data, size);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(44, 44));
        // The corner shows the panels' grey, the centre the white digit on its disc.
        const QColor corner = image.pixelColor(0, 0);
        EXPECT_NEAR(corner.red(), 0xC1, 24);
        EXPECT_NEAR(corner.blue(), 0xC1, 24);
    }
    // Three different digits.
    EXPECT_NE(ui::DecodeJpeg(ui::kPanelPicture1, ui::kPanelPicture1Size),
              ui::DecodeJpeg(ui::kPanelPicture2, ui::kPanelPicture2Size));
}

TEST(PanelPictures, BrokenBytesGiveANullImage) {
    const unsigned char garbage[] = {0xff, 0xd8, 0x00, 0x01, 0x02, 0x03, 0x04};
    EXPECT_TRUE(ui::DecodeJpeg(garbage, sizeof garbage).isNull());
    EXPECT_TRUE(ui::DecodeJpeg(nullptr, 0).isNull());
    // A picture cut short is padded by libjpeg; what matters is no crash and no overrun.
    const QImage cut = ui::DecodeJpeg(ui::kPanelPicture1, ui::kPanelPicture1Size / 2);
    if (!cut.isNull()) {
        EXPECT_EQ(cut.size(), QSize(44, 44));
    }
}

TEST_F(WindowTest, PanelsShowTheirPictures) {
    for (QLabel* image : {form->Image1, form->Image2, form->Image3}) {
        EXPECT_EQ(image->pixmap().size(), QSize(44, 44));
    }
}
