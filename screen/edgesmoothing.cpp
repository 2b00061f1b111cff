#include "screen/edgesmoothing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace {

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

} // namespace

bool EdgeSmoothingChoice::isSoftware(const RendererReport& report)
{
    // The driver's own word wins over its name: a renderer that says it is accelerated is a
    // graphics card whatever it is called.
    if (report.accelerated)
        return !*report.accelerated;
    const std::string renderer = lowerCase(report.renderer);
    constexpr std::array<std::string_view, 3> Software{"llvmpipe", "softpipe", "swrast"};
    return std::any_of(Software.begin(), Software.end(), [&](std::string_view name) {
        return renderer.find(name) != std::string::npos;
    });
}

std::optional<EdgeSmoothing> EdgeSmoothingChoice::forcedBy(const char* value)
{
    if (value == nullptr)
        return std::nullopt;
    const std::string name = lowerCase(value);
    if (name == "multisampling")
        return EdgeSmoothing::Multisampling;
    if (name == "outline")
        return EdgeSmoothing::Outline;
    if (name == "none")
        return EdgeSmoothing::None;
    return std::nullopt;
}

const char* EdgeSmoothingChoice::nameOf(EdgeSmoothing method)
{
    switch (method) {
    case EdgeSmoothing::Multisampling:
        return "multisampling";
    case EdgeSmoothing::Outline:
        return "outline smoothing";
    case EdgeSmoothing::None:
        break;
    }
    return "none";
}

EdgeSmoothingChoice EdgeSmoothingChoice::choose(const RendererReport& report,
                                                std::optional<EdgeSmoothing> forced,
                                                const std::function<bool()>& multisamplingAvailable)
{
    const std::string forcedReason = std::string("forced by ") + ForceVariable;
    if (forced == EdgeSmoothing::None || forced == EdgeSmoothing::Outline)
        return {*forced, forcedReason};
    if (forced == EdgeSmoothing::Multisampling) {
        if (multisamplingAvailable())
            return {EdgeSmoothing::Multisampling, forcedReason};
        return {EdgeSmoothing::Outline,
                forcedReason + ", but the driver offers no multisampled framebuffer"};
    }
    // A software rasteriser pays for every sample: 4x multisampling costs it several times the
    // frame, and the show would lose the display's refresh.
    if (isSoftware(report))
        return {EdgeSmoothing::Outline, "a software renderer"};
    if (multisamplingAvailable())
        return {EdgeSmoothing::Multisampling, "a graphics card"};
    return {EdgeSmoothing::Outline, "the driver offers no multisampled framebuffer"};
}
