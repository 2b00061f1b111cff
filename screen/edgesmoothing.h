#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

// How the high quality mode smooths the edges of the scene's polygons.
enum class EdgeSmoothing
{
    None,
    // 4x multisampling in a framebuffer object, resolved into the frame that is presented.
    Multisampling,
    // Smoothed lines drawn over the polygons' outlines: softens the pixels just outside each
    // edge at little cost, where multisampling would cost a software rasteriser several times
    // the frame.
    Outline,
};

// What the driver says of itself: its renderer string, and whether it is accelerated when the
// window system can tell (GLX_MESA_query_renderer).
struct RendererReport
{
    std::string renderer;
    std::optional<bool> accelerated;
};

// The high quality mode's choice of edge smoothing for the renderer the show runs on: on a
// software rasteriser the outlines, on a graphics card multisampling (the outlines where the
// driver offers no multisampled framebuffer). A developer can force a method, to try one on a
// machine where it would not be chosen.
class EdgeSmoothingChoice
{
public:
    // `multisamplingAvailable` is asked only when multisampling would be chosen, since finding
    // it out costs a framebuffer object.
    static EdgeSmoothingChoice choose(const RendererReport& report,
                                      std::optional<EdgeSmoothing> forced,
                                      const std::function<bool()>& multisamplingAvailable);

    // A renderer that says it is not accelerated, or, where it cannot say, one that Mesa names
    // as its software rasterisers do (llvmpipe, softpipe, swrast).
    static bool isSoftware(const RendererReport& report);
    // The method a developer forces: "multisampling", "outline" or "none" (any case); nothing
    // for an empty, absent or unknown value.
    static std::optional<EdgeSmoothing> forcedBy(const char* value);
    // The environment variable that forces a method.
    static constexpr const char* ForceVariable = "LUMIVANE_EDGE_SMOOTHING";
    // "multisampling", "outline smoothing" or "none".
    static const char* nameOf(EdgeSmoothing method);

    EdgeSmoothing method() const { return m_method; }
    // Why this method, in a few words: "a software renderer", "a graphics card", ...
    const std::string& reason() const { return m_reason; }

private:
    EdgeSmoothingChoice(EdgeSmoothing method, std::string reason)
        : m_method(method), m_reason(std::move(reason))
    {}

    EdgeSmoothing m_method = EdgeSmoothing::None;
    std::string m_reason;
};
