#include "app/slidepictures.h"

#include "render/slidesurface.h"

#include <utility>

void SlidePictures::start(SlideSurface* surface, std::vector<std::string> openPaths,
                          std::function<void()> onReady,
                          std::function<void(int, std::stop_token)> hook)
{
    m_surface = surface;
    m_paths = openPaths;
    m_preparer = std::make_unique<SlidePreparer>(std::move(openPaths), std::move(onReady));
    if (hook)
        m_preparer->setWorkHookForTesting(std::move(hook));
}

std::optional<PreparedSlide> SlidePictures::take(int index, SlideNeighbours around)
{
    if (m_synchronous)
        return prepareSlide(index, m_paths.at(std::size_t(index)));
    std::optional<PreparedSlide> picture = m_preparer->take(index, &m_shown, around);
    if (!picture)
        m_preparer->setCurrent(index, false, around);
    return picture;
}

void SlidePictures::show(PreparedSlide picture)
{
    if (!m_surface->useStagedTexture(picture.index))
        m_surface->uploadTexture(picture.slide->texturePixels());
    m_shown = std::move(picture);
}

void SlidePictures::stageAhead(int index)
{
    // A slice of 64 rows costs a fraction of a frame; the 1024 rows are up in 16 frames.
    constexpr int RowsPerFrame = 64;
    if (!m_preparer || m_synchronous)
        return;
    if (const SlideImage* picture = m_preparer->peek(index))
        m_surface->stageTexture(index, picture->texturePixels(), RowsPerFrame);
}

void SlidePictures::resume()
{
    if (m_preparer)
        m_preparer->resume();
}
