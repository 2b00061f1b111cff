#include "scene/mipmappedtextures.h"

#include "scene/slideimage.h"

#include <QOpenGLContext>

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <string>
#include <utility>

namespace {

// Slices stay near this size, so that the budget is checked often enough to be kept.
constexpr std::size_t SliceBytes = 1024 * 1024;
// More than 8 samples along the view's slant adds cost and no visible detail at the show's
// angles.
constexpr float MostAnisotropy = 8.0f;

} // namespace

float MipmappedTextures::anisotropyOffered()
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (context == nullptr ||
        !context->hasExtension(QByteArrayLiteral("GL_EXT_texture_filter_anisotropic")))
        return 1.0f;
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const std::string name = renderer != nullptr ? renderer : "";
    if (name.find("llvmpipe") != std::string::npos || name.find("softpipe") != std::string::npos)
        return 1.0f;
    GLfloat most = 1.0f;
    glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &most);
    return most;
}

MipmappedTextures::MipmappedTextures(float anisotropy)
    : m_anisotropy(std::clamp(anisotropy, 1.0f, MostAnisotropy))
{}

MipmappedTextures::~MipmappedTextures()
{
    release();
}

void MipmappedTextures::release()
{
    remove(m_current);
    remove(m_staged);
}

void MipmappedTextures::remove(Texture& texture)
{
    if (texture.name != 0) {
        GLuint name = texture.name;
        glDeleteTextures(1, &name);
    }
    texture = Texture{};
}

void MipmappedTextures::restart(Texture& texture, int key, const TextureLayout& layout)
{
    if (texture.name == 0 || texture.layout != layout) {
        remove(texture);
        GLuint name = 0;
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        for (int level = 0; level < layout.levelCount(); ++level) {
            const int edge = layout.levelSize(level);
            glTexImage2D(GL_TEXTURE_2D, level, GL_RGB8, edge, edge, 0, GL_RGB, GL_UNSIGNED_BYTE,
                         nullptr);
        }
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, layout.levelCount() - 1);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                        layout.mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        if (m_anisotropy > 1.0f)
            glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, m_anisotropy);
        glBindTexture(GL_TEXTURE_2D, 0);
        texture.name = name;
        texture.layout = layout;
    }
    texture.key = key;
    texture.level = 0;
    texture.row = 0;
}

void MipmappedTextures::uploadSlice(Texture& texture, const SlideImage& slide)
{
    const TextureLayout& layout = texture.layout;
    const int edge = layout.levelSize(texture.level);
    const std::size_t rowBytes = std::size_t(edge) * 3;
    const int rows = std::min(edge - texture.row, std::max(1, int(SliceBytes / rowBytes)));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, texture.name);
    glTexSubImage2D(GL_TEXTURE_2D, texture.level, 0, texture.row, edge, rows, GL_RGB,
                    GL_UNSIGNED_BYTE,
                    slide.texturePixels() + layout.levelOffset(texture.level) +
                        std::size_t(texture.row) * rowBytes);
    glBindTexture(GL_TEXTURE_2D, 0);
    texture.row += rows;
    if (texture.row >= edge) {
        texture.row = 0;
        ++texture.level;
    }
}

bool MipmappedTextures::stage(int key, const SlideImage& slide, std::chrono::microseconds budget)
{
    if (m_staged.key != key || m_staged.layout != slide.layout() || m_staged.name == 0)
        restart(m_staged, key, slide.layout());
    const auto start = std::chrono::steady_clock::now();
    while (!m_staged.complete()) {
        uploadSlice(m_staged, slide);
        if (std::chrono::steady_clock::now() - start >= budget)
            break;
    }
    return m_staged.complete();
}

bool MipmappedTextures::isStaged(int key) const
{
    return m_staged.key == key && m_staged.complete();
}

bool MipmappedTextures::useStaged(int key)
{
    if (!isStaged(key))
        return false;
    std::swap(m_current, m_staged);
    // The old texture keeps its storage for the next picture; its contents no longer count.
    m_staged.key = -1;
    return true;
}

void MipmappedTextures::uploadNow(int key, const SlideImage& slide)
{
    if (m_staged.key != key || m_staged.layout != slide.layout() || m_staged.name == 0)
        restart(m_staged, key, slide.layout());
    while (!m_staged.complete())
        uploadSlice(m_staged, slide);
    useStaged(key);
}
