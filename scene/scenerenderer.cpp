#include "scene/scenerenderer.h"

#include "scene/slideconstants.h"

#include <GL/gl.h>
#include <GL/glu.h>

namespace SceneRenderer {

void applyFixedState()
{
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    glEnable(GL_POLYGON_SMOOTH);
}

namespace {

// A new 1024 x 1024 RGB slide texture with linear filtering, bound; its pixels, bottom row
// first, or none yet.
GLuint makeSlideTexture(const std::uint8_t* pixels)
{
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 1024, 1024, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    return name;
}

// Sends the scene's polygons, in order, with their colours, normals and texture coordinates.
// Texture object 0 never holds an image, so everything but the picture is drawn in its vertex
// colours.
void drawPolygons(const Scene& scene, unsigned textureName)
{
    for (const ScenePolygon& polygon : scene) {
        if (polygon.textured)
            glBindTexture(GL_TEXTURE_2D, textureName);
        glBegin(GL_POLYGON);
        glNormal3f(polygon.nx, polygon.ny, polygon.nz);
        for (const SceneVertex& v : polygon.vertices) {
            // A colour stays in force, also across polygons, until the next one is given.
            if (v.hasColour)
                glColor3f(v.r, v.g, v.b);
            if (v.hasTexCoord)
                glTexCoord2d(v.s, v.t);
            glVertex3f(v.x, v.y, v.z);
        }
        glEnd();
        if (polygon.textured)
            glBindTexture(GL_TEXTURE_2D, 0);
    }
}

} // namespace

unsigned uploadSlideTexture(unsigned previousName, bool previousCreated, const std::uint8_t* pixels)
{
    // Only one slide texture exists at a time: the old one goes before the new one is made.
    if (previousCreated)
        glDeleteTextures(1, &previousName);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    return makeSlideTexture(pixels);
}

unsigned createSlideTexture()
{
    const GLuint name = makeSlideTexture(nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    return name;
}

void uploadSlideRows(unsigned name, const std::uint8_t* pixels, int firstRow, int rows)
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, firstRow, 1024, rows, GL_RGB, GL_UNSIGNED_BYTE,
                    pixels + std::size_t(firstRow) * 1024 * 3);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void deleteSlideTexture(unsigned name)
{
    GLuint texture = name;
    glDeleteTextures(1, &texture);
}

void drawFrame(int width, int height, const CameraPose& camera, const Scene& scene,
               unsigned textureName)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // The aspect ratio is divided in floating point and rounded to single precision.
    const float aspect = height > 0 ? static_cast<float>(double(width) / double(height)) : 1.0f;
    gluPerspective(60.0, aspect, 100.0, 10000.0);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(camera.eyeX, camera.eyeY, camera.eyeZ, camera.centerX, camera.centerY, camera.centerZ,
              0.0, 1.0, 0.0);

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPolygonMode(GL_FRONT, GL_FILL);
    glBindTexture(GL_TEXTURE_2D, 0);

    drawPolygons(scene, textureName);
    glFlush();
}

void drawOutlines(const Scene& scene, unsigned textureName)
{
    // The outlines go over the polygons just drawn, as smoothed lines in the polygons' own
    // colours and texels, blended by how much of each pixel they cover: a pixel just outside an
    // edge takes a share of the polygon's colour, as with antialiased polygons. Pulled a little
    // towards the camera, the lines pass the depth test against their own polygons, and they
    // write no depth of their own; what lies in front of an edge still hides it.
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    glDepthMask(GL_FALSE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glEnable(GL_POLYGON_OFFSET_LINE);
    glPolygonOffset(-1.0f, -2.0f);

    drawPolygons(scene, textureName);

    glDisable(GL_POLYGON_OFFSET_LINE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glDepthMask(GL_TRUE);
    glDisable(GL_LINE_SMOOTH);
    glDisable(GL_BLEND);
    glFlush();
}

} // namespace SceneRenderer
