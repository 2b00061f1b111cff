#include "screen/edgesmoothing.h"
#include "screen/waylandframes.h"

#include <gtest/gtest.h>

#include <string>

// The renderers of Mesa's software rasterisers, of a graphics card and of a driver the choice does
// not know, with and without the driver's own word on acceleration; and what a developer forces.
TEST(EdgeSmoothingChoice, SoftwareRenderersGetOutlinesAndGraphicsCardsMultisampling)
{
    struct Case
    {
        RendererReport report;
        bool multisampling; // the driver offers a multisampled framebuffer
        EdgeSmoothing expected;
    };
    const Case cases[] = {
        {{"llvmpipe (LLVM 15.0.6, 256 bits)", false}, true, EdgeSmoothing::Outline},
        {{"llvmpipe (LLVM 15.0.6, 256 bits)", std::nullopt}, true, EdgeSmoothing::Outline},
        {{"softpipe", std::nullopt}, true, EdgeSmoothing::Outline},
        {{"Software Rasterizer (SWRAST)", std::nullopt}, true, EdgeSmoothing::Outline},
        {{"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", true}, true, EdgeSmoothing::Multisampling},
        {{"NVIDIA GeForce GTX 1060/PCIe/SSE2", std::nullopt}, true, EdgeSmoothing::Multisampling},
        // A card whose driver has no multisampled framebuffer still gets smooth edges.
        {{"AMD Radeon RX 580 (radeonsi, polaris10)", true}, false, EdgeSmoothing::Outline},
        // An unknown renderer is taken for a card, unless it says it is not accelerated.
        {{"Future Renderer 9", std::nullopt}, true, EdgeSmoothing::Multisampling},
        {{"Future Renderer 9", false}, true, EdgeSmoothing::Outline},
        {{"", std::nullopt}, true, EdgeSmoothing::Multisampling},
    };
    for (const Case& c : cases) {
        int asked = 0;
        const EdgeSmoothingChoice choice = EdgeSmoothingChoice::choose(c.report, std::nullopt, [&] {
            ++asked;
            return c.multisampling;
        });
        EXPECT_EQ(choice.method(), c.expected) << c.report.renderer;
        EXPECT_FALSE(choice.reason().empty());
        // A software rasteriser is not made to build a multisampled framebuffer it will not use.
        if (EdgeSmoothingChoice::isSoftware(c.report)) {
            EXPECT_EQ(asked, 0) << c.report.renderer;
        }
    }

    const RendererReport llvmpipe{"llvmpipe (LLVM 15.0.6, 256 bits)", false};
    const auto forced = [&](const char* value, bool available) {
        return EdgeSmoothingChoice::choose(llvmpipe, EdgeSmoothingChoice::forcedBy(value),
                                           [&] { return available; })
            .method();
    };
    EXPECT_EQ(forced("multisampling", true), EdgeSmoothing::Multisampling);
    EXPECT_EQ(forced("Multisampling", false), EdgeSmoothing::Outline);
    EXPECT_EQ(forced("none", true), EdgeSmoothing::None);
    EXPECT_EQ(forced("outline", true), EdgeSmoothing::Outline);
    // Nothing, or a word it does not know, leaves the choice to the renderer.
    EXPECT_EQ(forced(nullptr, true), EdgeSmoothing::Outline);
    EXPECT_EQ(forced("msaa", true), EdgeSmoothing::Outline);
}

// On Wayland the scene is a subsurface unless a developer forces another way.
TEST(WaylandFramesChoice, TheSubsurfaceUnlessAnotherWayIsForced)
{
    EXPECT_EQ(WaylandFramesChoice::choose(nullptr), WaylandFrames::Subsurface);
    EXPECT_EQ(WaylandFramesChoice::choose("sideways"), WaylandFrames::Subsurface);
    EXPECT_EQ(WaylandFramesChoice::choose("Composed"), WaylandFrames::Composed);
    EXPECT_EQ(WaylandFramesChoice::choose("read-back"), WaylandFrames::ReadBack);
}
