// The real window's frames on the screen: the surface's state, the scene at the hold point, the
// high quality mode's textures, edges and colours, the textures' life, smooth motion and its
// pacing, the frame log, and changes of picture prepared in the background.
#include "tests/app/windowtest.h"

namespace {

TEST_F(MainWindowTest, OpenGlSurfaceHasTheFixedState)
{
    auto window = makeWindow(m_pictures.path());
    SlideSurface* view = window->slideSurface();
    ASSERT_TRUE(view->isSurfaceReady());
    ASSERT_TRUE(view->context()->makeCurrent(view));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_POLYGON_SMOOTH));
    GLfloat mode = 0;
    glGetTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    EXPECT_EQ(GLenum(mode), GLenum(GL_DECAL));
    GLfloat clear[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.0f);
    EXPECT_EQ(clear[1], 0.0f);
    EXPECT_EQ(clear[2], 1.0f);
    EXPECT_EQ(clear[3], 1.0f);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    const QSurfaceFormat format = view->context()->format();
    EXPECT_GE(format.depthBufferSize(), 16);
    EXPECT_EQ(format.swapBehavior(), QSurfaceFormat::DoubleBuffer);
    view->context()->doneCurrent();
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, WithoutOpenGlTheShowStillRunsAndEndsOnEscape)
{
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 8, 6, Qt::red);
    writeSolidBmp(pictures(QStringLiteral("b.bmp")), 8, 6, Qt::green);
    SlideSurface::simulateFailureForTesting(SlideSurface::Failure::CreateContext);
    // A real message box runs its own event loop for as long as it is open; give the timers
    // more than a second of it, as a user reading the first box would.
    Messages::setPresenterForTesting([&](Messages::Kind kind, const QString& text) {
        m_messages.push_back({kind, text});
        if (m_messages.size() == 1)
            QTest::qWait(1100);
    });
    auto window = makeWindow(m_pictures.path());
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[0].text, QStringLiteral("Could not CreateContext"));
    EXPECT_EQ(m_messages[1].text, QStringLiteral("Could not MakeCurrent"));

    ASSERT_TRUE(waitForHandOver(*window));
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/2"));
    EXPECT_TRUE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    // The window shows its own blue where the search screen was.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        return shot.pixelColor(window->rect().center()) == QColor(0, 0, 255);
    }));

    // The controls work: next picture, pause, and Escape ends the program.
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, window->rect().center());
    tick(*window);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/2"));
    QTest::mouseClick(window.get(), Qt::MiddleButton, {}, window->rect().center());
    EXPECT_FALSE(window->slideTimer().isActive());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_EQ(m_messages.size(), 2u);
}

TEST_F(MainWindowTest, OnePictureReloadsEveryOneHundredFiftyFrames)
{
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    int draws = 0;
    window->controller().setPathChooserForTesting([&] { return ++draws % PathCount; });
    const unsigned firstTexture = window->slideSurface()->textureName();
    for (int i = 0; i < SlideFrames + 1; ++i)
        tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/1"));
    // The texture was made anew; the old one is gone.
    SlideSurface* view = window->slideSurface();
    ASSERT_TRUE(view->context()->makeCurrent(view));
    EXPECT_TRUE(glIsTexture(view->textureName()));
    if (view->textureName() != firstTexture) {
        EXPECT_FALSE(glIsTexture(firstTexture));
    }
    view->context()->doneCurrent();
}

// Projects a scene point through the camera the frame renderer uses.
QPointF project(double x, double y, double z, double eyeZ, int width, int height)
{
    // At the hold point the eye is on the z axis looking down -z, with y up.
    const double f = 1.0 / std::tan(30.0 * M_PI / 180.0);
    const double aspect = double(float(double(width) / double(height)));
    const double depth = eyeZ - z;
    const double ndcX = f / aspect * x / depth;
    const double ndcY = f * y / depth;
    return {(ndcX + 1) / 2 * width, (1 - ndcY) / 2 * height};
}

// The colour of a frame drawn at the hold point where the point (x, y) of the picture's plane
// shows.
QColor colourOnPicturePlane(const QImage& frame, double x, double y)
{
    return frame.pixelColor(project(x, y, 0, 1000, frame.width(), frame.height()).toPoint());
}

TEST_F(MainWindowTest, FrameAtTheHoldPointShowsThePictureUprightInItsFrame)
{
    // 1600 x 1200: red top half, green bottom half, so that upside down would show.
    writeBmp(pictures(QStringLiteral("pic.bmp")), 160, 120,
             [](int, int y) { return y < 60 ? QColor(255, 0, 0) : QColor(0, 255, 0); });
    auto window = startSlideshow(m_pictures.path());
    const QImage frame = frameAtHoldPoint(*window);
    const int w = frame.width();
    const int h = frame.height();
    // ImageWidth 1024, ImageHeight 768: HW 512, HH 384; the frame is 20 wide around it.
    auto at = [&](double x, double y) { return colourOnPicturePlane(frame, x, y); };
    EXPECT_EQ(at(0, 200), QColor(255, 0, 0));
    EXPECT_EQ(at(0, -200), QColor(0, 255, 0));
    EXPECT_EQ(at(-400, 300), QColor(255, 0, 0));
    EXPECT_EQ(at(400, -300), QColor(0, 255, 0));
    EXPECT_EQ(at(0, 394), QColor(255, 255, 255));  // top bar
    EXPECT_EQ(at(0, -394), QColor(255, 255, 255)); // bottom bar
    EXPECT_EQ(at(-522, 0), QColor(255, 255, 255)); // left bar
    EXPECT_EQ(at(522, 0), QColor(255, 255, 255));  // right bar
    EXPECT_EQ(at(-545, 0), QColor(0, 0, 255));     // background beside the frame

    // The floor: light near the line under the picture, deeper blue away from it.
    // From the hold point the bottom of the view meets the floor just behind the picture line.
    const QColor nearLine = frame.pixelColor(w / 2, h - 2);
    const QColor farBack = frame.pixelColor(project(1500, -600, -1800, 1000, w, h).toPoint());
    EXPECT_GT(nearLine.red(), 180);
    EXPECT_GT(nearLine.red(), farBack.red() + 100);
    EXPECT_EQ(nearLine.blue(), 255);

    // The shadow: darker than the floor, behind the picture and to its left. Its corner under
    // the frame's lower left corner lies at (-HW - HH - 640 + 20 ..., -590, ...); sample inside.
    const QPoint shadow = project(-700, -590, -300, 1000, w, h).toPoint();
    const QColor shade = frame.pixelColor(shadow);
    EXPECT_LT(shade.blue(), 200) << shadow.x() << "," << shadow.y();
}

// QUALITY=HIGH shows the picture upright in its frame at the hold point, from a mipmapped texture
// that follows the window's size, and Escape ends the program: with each method of smoothing the
// edges, and with none.
TEST_F(MainWindowTest, HighQualityShowsThePictureAndEndsOnEscape)
{
    writeBmp(pictures(QStringLiteral("pic.bmp")), 160, 120,
             [](int, int y) { return y < 60 ? QColor(255, 0, 0) : QColor(0, 255, 0); });
    m_show.quality = PictureQuality::High;
    setSlideshowSurfaceFormat(QGuiApplication::primaryScreen()->depth());
    for (const EdgeSmoothing method :
         {EdgeSmoothing::Multisampling, EdgeSmoothing::Outline, EdgeSmoothing::None}) {
        SCOPED_TRACE(EdgeSmoothingChoice::nameOf(method));
        SlideSurface::forceEdgeSmoothingForTesting(method);
        auto window = startSlideshow(m_pictures.path());
        SlideSurface::forceEdgeSmoothingForTesting(std::nullopt);
        const SlideSurface& surface = *window->slideSurface();
        EXPECT_EQ(surface.edgeSmoothing(), method);
        EXPECT_EQ(window->controller().textureLayout(),
                  (TextureLayout{chooseTextureSize(window->width(), window->height(),
                                                   window->devicePixelRatioF(),
                                                   surface.maxTextureSize(), CameraPaths()),
                                 true}));
        EXPECT_NE(surface.textureName(), 0u);
        if (method == EdgeSmoothing::Multisampling) {
            // A picture goes up ahead in slices within the time it is given: with none, one
            // slice per call, and the next call goes on from there.
            SlideImage ahead(window->controller().textureLayout());
            ahead.prepareFromImage(TestPictures::makeImage(64, 48, [](int x, int) {
                return std::array{x, 0, 0};
            }));
            int calls = 1;
            while (!window->slideSurface()->stageHighTexture(99, ahead, {}) && calls < 1000)
                ++calls;
            EXPECT_GE(calls, 4);
            EXPECT_LT(calls, 1000);
        }

        const QImage frame = frameAtHoldPoint(*window);
        auto at = [&](double x, double y) { return colourOnPicturePlane(frame, x, y); };
        EXPECT_EQ(at(0, 200), QColor(255, 0, 0));
        EXPECT_EQ(at(400, -300), QColor(0, 255, 0));
        EXPECT_EQ(at(0, 394), QColor(255, 255, 255)); // top bar
        EXPECT_EQ(at(-545, 0), QColor(0, 0, 255));    // background beside the frame

        const int quits = m_quitRequests;
        QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_EQ(m_quitRequests, quits + 1);
    }
}

// What reaches the screen, read back from the X server and not from OpenGL: the frame's slanted
// outer edges, seen at a camera frame where the picture is turned, have in-between pixels with
// either method of the high quality mode (the outlines, which this software renderer gets, soften
// the pixels outside an edge only: 0.42 of them here), and none in the design's mode.
TEST_F(MainWindowTest, SlantedEdgesAreSmoothOnTheScreenOnlyInHighQuality)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr)
        GTEST_SKIP() << "an X display only";
    const QString picture = pictures(QStringLiteral("pic.bmp"));
    writeSolidBmp(picture, 160, 120, QColor(120, 120, 120));
    SlideImage slide;
    slide.prepare(QFile::encodeName(picture).toStdString());
    const auto scene =
        buildScene(slide.imageWidth(), slide.imageHeight(), slide.texExtentS(), slide.texExtentT());
    constexpr int Path = 0;
    constexpr int CameraFrame = 70;

    struct Case
    {
        PictureQuality quality;
        std::optional<EdgeSmoothing> method;
        double least;
        double most;
    };
    for (const Case c : {Case{PictureQuality::High, std::nullopt, 0.38, 1.0},
                         Case{PictureQuality::High, EdgeSmoothing::Multisampling, 0.5, 1.0},
                         Case{PictureQuality::Design, std::nullopt, 0.0, 0.0}}) {
        SCOPED_TRACE(c.quality == PictureQuality::Design ? "design"
                     : c.method                          ? "multisampling forced"
                                                         : "high, as chosen");
        m_show.quality = c.quality;
        SlideSurface::forceEdgeSmoothingForTesting(c.method);
        // The first picture's frames go by hidden, which draws nothing; its second round takes
        // the path measured, and the window is shown for the frame measured.
        auto window = startSlideshow(m_pictures.path(), false);
        SlideSurface::forceEdgeSmoothingForTesting(std::nullopt);
        window->controller().setPathChooserForTesting([] { return Path; });
        // Each frame restarts the slide timer; the test stops it, so that the camera stays
        // where it is measured.
        auto& slideTimer = const_cast<QTimer&>(window->slideTimer());
        for (int i = 0; i < SlideFrames + CameraFrame - 1; ++i)
            tick(*window);
        slideTimer.stop();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        // Text painted over a frame (a status line, the pause marker) must not leave the
        // frames after it without their smoothing.
        window->slideSurface()->showStatusLine(QStringLiteral("Now File(pic.bmp) Loading"));
        tick(*window);
        slideTimer.stop();
        ASSERT_EQ(window->controller().frameCounter(), CameraFrame);
        ASSERT_EQ(window->controller().pathIndex(), Path);
        // The X server has the frame once Mesa's connection has handed it over; a short wait
        // lets it, since this connection is not ordered with that one.
        QTest::qWait(100);
        const QImage shot = ScreenMeasure::grabWindow(
            x11->connection(), xcb_window_t(window->slideSurface()->winId()));
        ASSERT_FALSE(shot.isNull());
        const ScreenMeasure::EdgeShare edges =
            ScreenMeasure::slantedEdges(shot, scene, CameraPaths().pose(CameraFrame, Path));
        EXPECT_GT(edges.crossed, 200);
        EXPECT_GE(edges.share(), c.least) << edges.between << " of " << edges.crossed;
        EXPECT_LE(edges.share(), c.most) << edges.between << " of " << edges.crossed;
    }
}

// QUALITY=HIGH converts pictures to the monitor's colour profile, which the X server's root
// window carries in _ICC_PROFILE: with a profile whose red and green are swapped, the picture's
// red half reaches the screen green and its green half red. The scene around it is not a picture
// and keeps its colours; without the property the picture is shown as it is.
TEST_F(MainWindowTest, HighQualityConvertsPicturesToTheDisplayProfile)
{
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr)
        GTEST_SKIP() << "an X display only";
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const char name[] = "_ICC_PROFILE";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    ASSERT_NE(atom, nullptr);
    const xcb_atom_t property = atom->atom;
    std::free(atom);
    const std::vector<std::uint8_t> profile = TestProfiles::swapProfile();
    writeBmp(pictures(QStringLiteral("pic.bmp")), 160, 120,
             [](int, int y) { return y < 60 ? QColor(255, 0, 0) : QColor(0, 255, 0); });
    m_show.quality = PictureQuality::High;
    for (const bool profiled : {true, false}) {
        if (profiled)
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, property,
                                XCB_ATOM_CARDINAL, 8, std::uint32_t(profile.size()),
                                profile.data());
        else
            xcb_delete_property(connection, root, property);
        xcb_flush(connection);
        auto window = startSlideshow(m_pictures.path());
        const QImage frame = frameAtHoldPoint(*window);
        auto at = [&](double x, double y) { return colourOnPicturePlane(frame, x, y); };
        EXPECT_EQ(at(0, 200), profiled ? QColor(0, 255, 0) : QColor(255, 0, 0));
        EXPECT_EQ(at(400, -300), profiled ? QColor(255, 0, 0) : QColor(0, 255, 0));
        EXPECT_EQ(at(-545, 0), QColor(0, 0, 255)); // background beside the frame
    }
}

// On Wayland the compositor places the window: full screen on the chosen monitor's output. The
// scene is drawn off screen and shown beneath the controls, so the window's own picture holds
// both: the picture at the centre, the close button's own pixels where it lies.
TEST_F(MainWindowTest, OnWaylandTheWindowIsFullScreenWithTheSceneBeneathTheControls)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        GTEST_SKIP() << "a Wayland session only";
    writeSolidBmp(pictures(QStringLiteral("pic.bmp")), 160, 120, QColor(255, 0, 255));
    auto window = startSlideshow(m_pictures.path());
    QScreen* screen = QGuiApplication::screens().at(0);
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_EQ(window->screen(), screen);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->size() == screen->size(); }));
    for (int i = 0; i < 100; ++i) // the hold point: the picture faces the camera
        tick(*window);
    QTest::qWait(50); // the controls' images are taken again once the event loop turns

    // As the compositor shows it: the window's own image where the frames are drawn for a widget
    // among the controls; the scene's frame with the controls' images over it where the scene
    // is a subsurface of its own.
    SlideSurface* surface = window->slideSurface();
    const QImage shot = (surface->drawsControlImages() ? surface->grabFrame()
                                                       : window->grab().toImage())
                            .convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.pixelColor(shot.rect().center()), QColor(255, 0, 255));
    auto* close = window->findChild<QPushButton*>(QStringLiteral("B_Close"));
    ASSERT_TRUE(close->isVisible());
    EXPECT_EQ(shot.copy(close->geometry()),
              close->grab().toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, ClosingReleasesTheTexture)
{
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    SlideSurface* view = window->slideSurface();
    ASSERT_TRUE(view->textureCreated());
    const unsigned name = view->textureName();
    ASSERT_TRUE(view->context()->makeCurrent(view));
    EXPECT_TRUE(glIsTexture(name));
    view->releaseSurface();
    EXPECT_FALSE(view->textureCreated());
    EXPECT_FALSE(view->isSurfaceReady());
    EXPECT_EQ(view->context(), nullptr);
}

TEST_F(MainWindowTest, EachLoadReplacesTheTextureWithThePicturesTexels)
{
    // Bottom-left texel yellow for the first picture, cyan for the second.
    writeBmp(pictures(QStringLiteral("a.bmp")), 64, 48, [](int x, int y) {
        return x < 32 && y >= 24 ? QColor(255, 255, 0) : QColor(90, 90, 90);
    });
    writeBmp(pictures(QStringLiteral("b.bmp")), 64, 48, [](int x, int y) {
        return x < 32 && y >= 24 ? QColor(0, 255, 255) : QColor(90, 90, 90);
    });
    auto window = startSlideshow(m_pictures.path());
    SlideSurface* surface = window->slideSurface();
    auto texelAtOrigin = [&] {
        EXPECT_TRUE(surface->context()->makeCurrent(surface));
        glBindTexture(GL_TEXTURE_2D, surface->textureName());
        std::vector<unsigned char> texels(1024 * 1024 * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        return QColor(texels[0], texels[1], texels[2]);
    };
    const unsigned first = surface->textureName();
    EXPECT_EQ(texelAtOrigin(), QColor(255, 255, 0));

    QTest::mouseClick(window->slideWidget(), Qt::LeftButton);
    tick(*window); // loads the second picture
    ASSERT_EQ(window->controller().currentIndex(), 1);
    EXPECT_EQ(texelAtOrigin(), QColor(0, 255, 255));
    if (surface->textureName() != first) {
        EXPECT_FALSE(glIsTexture(first));
    }
    EXPECT_TRUE(surface->textureCreated());
}

TEST_F(MainWindowTest, FrameLogRecordsEachPresentedFrame)
{
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 8, 6, Qt::gray);
    writeSolidBmp(pictures(QStringLiteral("b.bmp")), 8, 6, Qt::gray);
    const QString logPath = m_appDir.path() + QStringLiteral("/frames.log");
    qputenv("LUMIVANE_FRAME_LOG", QFile::encodeName(logPath));
    auto window = startSlideshow(m_pictures.path(), false);
    qunsetenv("LUMIVANE_FRAME_LOG");
    for (int i = 0; i < 3; ++i)
        tick(*window);
    const QString firstPath = QString::number(window->controller().pathIndex());
    window->controller().setPathChooserForTesting([] { return 4; });
    QTest::mouseClick(window->slideWidget(), Qt::LeftButton);
    tick(*window);
    window.reset();

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    QStringList frames;
    qint64 previous = 0;
    for (const QString& line : lines) {
        const QStringList fields = line.split(u' ');
        ASSERT_EQ(fields.size(), 4) << line.toStdString();
        EXPECT_GE(fields[0].toLongLong(), previous);
        previous = fields[0].toLongLong();
        frames << fields.mid(1).join(u' ');
    }
    EXPECT_EQ(frames,
              (QStringList{QStringLiteral("0 1 ") + firstPath, QStringLiteral("0 2 ") + firstPath,
                           QStringLiteral("0 3 ") + firstPath, QStringLiteral("1 1 4")}));
}

TEST_F(MainWindowTest, SmoothMotionDrawsAtTheRefreshChangesOnTimeAndEndsOnEscape)
{
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 8, 6, Qt::gray);
    writeBmp(pictures(QStringLiteral("b.bmp")), 160, 120,
             [](int x, int y) { return QColor(x, y * 2, (x + y) % 256); });
    m_show.motion = SlideMotion::Smooth;
    m_show.seconds = 2;
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    EXPECT_FALSE(window->slideTimer().isActive());
    EXPECT_TRUE(window->framePacer()->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().frameCounter() > 0; }, 5000));

    // Frames at about the screen's refresh, and the next picture after about 2 s.
    QElapsedTimer clock;
    clock.start();
    int frames = 0;
    int last = window->controller().frameCounter();
    while (window->controller().currentIndex() == 0 && clock.elapsed() < 5000) {
        QTest::qWait(5);
        const int now = window->controller().frameCounter();
        frames += now >= last ? now - last : now;
        last = now;
    }
    const double seconds = double(clock.elapsed()) / 1000;
    EXPECT_EQ(window->controller().currentIndex(), 1);
    // (A busy machine may make frames late, never early.)
    EXPECT_GT(seconds, 1.8);
    EXPECT_LT(seconds, 2.6);
    const double rate = window->framePacer()->refreshRate();
    EXPECT_GT(frames / seconds, 0.5 * rate);
    EXPECT_LT(frames / seconds, 1.1 * rate);

    // Paused, nothing is drawn. The second picture's texture, put up in slices ahead of the
    // change, holds its texels exactly.
    QTest::mouseClick(window->slideWidget(), Qt::MiddleButton);
    const int paused = window->controller().frameCounter();
    QTest::qWait(100);
    EXPECT_EQ(window->controller().frameCounter(), paused);
    SlideSurface* surface = window->slideSurface();
    ASSERT_TRUE(surface->context()->makeCurrent(surface));
    glBindTexture(GL_TEXTURE_2D, surface->textureName());
    std::vector<unsigned char> texels(1024 * 1024 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_TRUE(std::equal(texels.begin(), texels.end(), window->controller().slideImage().texturePixels()));

    QTest::mouseClick(window->slideWidget(), Qt::MiddleButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().frameCounter() > paused; }, 1000));

    // A hidden window draws nothing; shown again, the show goes on.
    window->hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !surface->isExposed(); }, 2000));
    const int hidden = window->controller().frameCounter();
    QTest::qWait(100);
    EXPECT_EQ(window->controller().frameCounter(), hidden);
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().frameCounter() > hidden + 3; }, 2000));

    // Escape ends the show at once.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_FALSE(window->framePacer()->isActive());
    const int ended = window->controller().frameCounter();
    QTest::qWait(100);
    EXPECT_EQ(window->controller().frameCounter(), ended);
    EXPECT_TRUE(m_messages.empty());
}

// Where the swap does not wait for the display, frames that take unevenly long to make (every
// other one 8 ms longer, as at a change of picture) still reach the screen one refresh apart:
// each is asked for ahead of its deadline and held back until then.
TEST(FramePacerTest, FramesOfUnevenCostReachTheScreenOnTheBeat)
{
    using Clock = std::chrono::steady_clock;
    QWidget host;
    host.resize(320, 240);
    auto* surface = new SlideSurface;
    surface->embedIn(&host)->setGeometry(host.rect());
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    ASSERT_EQ(surface->createContext(), SlideSurface::Failure::None);
    FramePacer pacer(surface->presenter(), SlideMotion::Smooth, 30);
    std::vector<Clock::time_point> shown;
    QEventLoop loop;
    QObject::connect(&pacer, &FramePacer::frameDue, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(shown.size() % 2 ? 9 : 1));
        surface->showStatusLine(QString::number(shown.size()));
        shown.push_back(Clock::now());
        pacer.frameDone();
        if (shown.size() == 60)
            loop.quit();
    });
    // The median miss of the period over 48 frames, after the first ones have set the lead.
    const auto run = [&] {
        shown.clear();
        pacer.start();
        // The real event loop: QTest::qWait sleeps between its turns, and would make frames
        // late.
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        pacer.stop();
        const double period = 1000 / pacer.refreshRate();
        std::vector<double> misses;
        for (std::size_t i = 12; i < shown.size(); ++i) {
            const double interval =
                std::chrono::duration<double, std::milli>(shown[i] - shown[i - 1]).count();
            misses.push_back(std::abs(interval - period));
        }
        std::sort(misses.begin(), misses.end());
        return misses.empty() ? period : misses[misses.size() / 2];
    };
    // Drawn and shown at once, the intervals miss the period by 4 ms and more (8 to 11 ms
    // measured), in every run. A machine busy with other work makes frames late at random, which
    // moves the median miss to 2 ms and, while the machine is saturated, to nearly 5 ms: a run
    // it spoils is run again, up to five times, and the bound lies halfway to the unpaced frames.
    double median = 0;
    for (int round = 0; round < 5; ++round) {
        median = run();
        ASSERT_EQ(shown.size(), 60u);
        if (pacer.followsSwaps().value_or(false))
            GTEST_SKIP() << "this display's swap keeps the beat itself";
        if (median < 4)
            break;
    }
    EXPECT_LT(median, 4) << "period " << 1000 / pacer.refreshRate() << " ms";
}

TEST_F(MainWindowTest, AChangeUsesThePreparedPictureAndAWaitHoldsNothingUp)
{
    for (int i = 0; i < 4; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8, 6, Qt::gray);
    PrepareGate gate;
    auto window = makeWindow(m_pictures.path(), false);
    window->controller().setPrepareHookForTesting(gate.hook([](int index) { return index == 2; }));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(waitForHandOver(*window));
    const_cast<QTimer&>(window->slideTimer()).stop();
    tick(*window); // the first frame; the neighbours are prepared from now on
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().preparer()->isIdle(); }, 10000));

    // The next picture is ready: the tick that changes to it draws its first frame at once.
    QTest::mouseClick(window->slideWidget(), Qt::LeftButton);
    const_cast<QTimer&>(window->slideTimer()).stop();
    window->controller().slideTick();
    EXPECT_FALSE(window->controller().changePending());
    EXPECT_EQ(window->controller().currentIndex(), 1);
    EXPECT_EQ(window->controller().frameCounter(), 1);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/4"));

    // The one after it is held in the worker. The running show waits for it without blocking:
    // the status line says what loads, and Escape ends the program at once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.hasStarted(2); }, 10000));
    QTest::mouseClick(window->slideWidget(), Qt::LeftButton);
    QTest::qWait(200);
    EXPECT_TRUE(window->controller().changePending());
    EXPECT_EQ(window->controller().currentIndex(), 2);
    EXPECT_EQ(window->slideSurface()->statusLine(), QStringLiteral("Now File(2.bmp) Loading"));
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/4"));
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_FALSE(window->slideTimer().isActive());
    window.reset();
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_FALSE(gate.onUiThread);
    EXPECT_TRUE(m_messages.empty());
}

// A picture whose file claims gigabytes, here the first scan of a progressive JPEG followed by
// 16 GB without a marker (a sparse file): the worker gives up on the gap within a second instead
// of reading it, and Escape ends the program at once.
TEST_F(MainWindowTest, EscapeWhileAHugeFileIsPreparedEndsTheProgramAtOnce)
{
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 8, 6, Qt::gray);
    writeSolidBmp(pictures(QStringLiteral("c.bmp")), 8, 6, Qt::gray);
    const std::string huge = QFile::encodeName(pictures(QStringLiteral("b.jpg"))).toStdString();
    const RgbImage grey = TestPictures::makeImage(32, 16, [](int, int) {
        return std::array{128, 128, 128};
    });
    ASSERT_TRUE(TestPictures::writeFile(
        huge, TestPictures::firstScanOf(TestPictures::encodeJpeg(grey, {.progressive = true}))));
    ASSERT_EQ(::truncate(huge.c_str(), off_t{16} << 30), 0);

    PrepareGate gate;
    auto window = makeWindow(m_pictures.path(), false);
    window->controller().setPrepareHookForTesting(gate.hook([](int) { return false; }));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(waitForHandOver(*window));
    tick(*window); // the first picture is on screen; its neighbour b.jpg is prepared next
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.hasStarted(1); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->controller().preparer()->isIdle(); }, 1000));

    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
    window.reset();
    EXPECT_LT(clock.elapsed(), 500);
    ::unlink(huge.c_str());
}

} // namespace
