// The embedded pictures decode at the sizes the windows expect.
#include <wx/animate.h>
#include <wx/generic/animate.h>

#include "tests/ui/UiTestSupport.h"
#include "res/Ids.h"
#include "res/Resources.h"

namespace {

bool IsMagenta(const wxImage& image, int x, int y) {
    return image.GetRed(x, y) == 255 && image.GetGreen(x, y) == 0 && image.GetBlue(x, y) == 255;
}

TEST(Resources, PicturesHaveTheirSizes) {
    const struct {
        int id;
        wxSize size;
        bool magentaCorner; // drawn on magenta, which the windows replace
    } pictures[] = {
        {IDB_ROW_ICONS, wxSize(48, 16), true}, {IDB_TOOLBAR, wxSize(192, 32), true},
        {IDB_SPLASH, wxSize(480, 320), false}, {IDI_PROGRAMMER, wxSize(32, 32), false},
        {IDI_CHIP, wxSize(32, 32), false},
    };
    for (const auto& p : pictures) {
        SCOPED_TRACE(p.id);
        const wxImage image = LoadResourceImage(p.id);
        ASSERT_TRUE(image.IsOk());
        EXPECT_EQ(image.GetSize(), p.size);
        EXPECT_EQ(IsMagenta(image, 0, 0), p.magentaCorner);
    }
    EXPECT_TRUE(LoadResourceIcon(IDI_CHIP).IsOk());
    EXPECT_FALSE(LoadResourceImage(999).IsOk());
    const wxIconBundle icons = LoadApplicationIcons();
    EXPECT_GE(icons.GetIconCount(), 4u);
    EXPECT_TRUE(icons.GetIcon(wxSize(48, 48), wxIconBundle::FALLBACK_NONE).IsOk());
}

TEST(Resources, MagentaBecomesTheGivenColourAndNothingElseChanges) {
    wxImage image = LoadResourceImage(IDB_ROW_ICONS);
    const wxImage original = image.Copy();
    int magenta = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 48; ++x)
            magenta += IsMagenta(original, x, y);
    EXPECT_EQ(MapMagentaTo(image, wxColour(1, 2, 3)), magenta);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 48; ++x) {
            if (IsMagenta(original, x, y))
                ASSERT_EQ(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)),
                          wxColour(1, 2, 3));
            else
                ASSERT_EQ(image.GetRed(x, y), original.GetRed(x, y));
        }
}

TEST(Resources, AnimationsPlayInTheGenericControl) {
    const struct {
        int id;
        unsigned frames;
        wxSize size;
    } animations[] = {{IDR_BURN_ANIMATION, 20, wxSize(208, 40)}, {IDR_READ_ANIMATION, 12, wxSize(32, 28)}};
    for (const auto& a : animations) {
        wxAnimation animation = wxGenericAnimationCtrl::CreateCompatibleAnimation();
        ASSERT_TRUE(LoadResourceAnimation(a.id, animation)) << a.id;
        EXPECT_EQ(animation.GetFrameCount(), a.frames);
        EXPECT_EQ(animation.GetSize(), a.size);
        EXPECT_EQ(animation.GetDelay(0), 100);
        // Drawn on a transparent background, which the dialog fills with its own colour: every
        // frame's corners are see-through.
        for (unsigned f = 0; f < animation.GetFrameCount(); ++f) {
            const wxImage frame = animation.GetFrame(f);
            ASSERT_TRUE(frame.HasMask() || frame.HasAlpha()) << a.id << " frame " << f;
            EXPECT_EQ(frame.GetSize(), a.size) << "whole frames";
            EXPECT_TRUE(frame.IsTransparent(0, 0) &&
                        frame.IsTransparent(frame.GetWidth() - 1, frame.GetHeight() - 1))
                << a.id << " frame " << f;
        }
    }
}

} // namespace
