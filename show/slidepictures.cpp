#include "show/slidepictures.h"

#include "scene/slidetextures.h"

#include <chrono>
#include <utility>

using namespace std::chrono_literals;

namespace {

// High quality: how long the UI thread may spend on one slice of a texture upload. Ahead of a
// change a slice follows each frame; while a change waits for its texture, slices follow each
// other with a return to the event loop in between.
constexpr auto UploadAheadBudget = 4ms;
constexpr auto UploadWaitingBudget = 8ms;

} // namespace

void SlidePictures::start(SlideTextures* textures, std::vector<std::string> openPaths,
                          std::function<void()> onReady,
                          std::function<void(int, std::stop_token)> hook,
                          const TextureLayout& layout, bool furtherFormats)
{
    m_textures = textures;
    m_paths = openPaths;
    m_onReady = onReady;
    m_layout = layout;
    m_furtherFormats = furtherFormats;
    m_preparer = std::make_unique<SlidePreparer>(std::move(openPaths), std::move(onReady), layout,
                                                 furtherFormats);
    if (hook)
        m_preparer->setWorkHookForTesting(std::move(hook));
}

void SlidePictures::addPaths(const std::vector<std::string>& openPaths)
{
    m_paths.insert(m_paths.end(), openPaths.begin(), openPaths.end());
    if (m_preparer)
        m_preparer->addPaths(openPaths);
}

std::optional<PreparedSlide> SlidePictures::take(int index, SlideNeighbours around)
{
    if (m_synchronous)
        return prepareSlide(index, m_paths.at(std::size_t(index)), {}, m_layout,
                            m_furtherFormats);
    m_uploadPending = false;
    if (highQuality()) {
        // A picture that is not ready, or could not be read, is left to the preparer's take().
        const SlideImage* slide = m_preparer->peek(index);
        if (slide != nullptr && !m_textures->stageHighTexture(index, *slide, UploadWaitingBudget)) {
            m_uploadPending = true;
            if (m_onReady)
                m_onReady();
            return std::nullopt;
        }
    }
    std::optional<PreparedSlide> picture = m_preparer->take(index, &m_shown, around);
    if (!picture)
        m_preparer->setCurrent(index, false, around);
    return picture;
}

void SlidePictures::show(PreparedSlide picture)
{
    if (highQuality())
        m_textures->showHighTexture(picture.index, *picture.slide);
    else if (!m_textures->useStagedTexture(picture.index))
        m_textures->uploadTexture(picture.slide->texturePixels());
    m_shown = std::move(picture);
}

void SlidePictures::stageAhead(int index)
{
    // A slice of 64 rows costs a fraction of a frame; the 1024 rows are up in 16 frames.
    constexpr int RowsPerFrame = 64;
    if (!m_preparer || m_synchronous)
        return;
    const SlideImage* picture = m_preparer->peek(index);
    if (picture == nullptr)
        return;
    if (highQuality())
        m_textures->stageHighTexture(index, *picture, UploadAheadBudget);
    else
        m_textures->stageTexture(index, picture->texturePixels(), RowsPerFrame);
}

void SlidePictures::resume()
{
    if (m_preparer)
        m_preparer->resume();
}
