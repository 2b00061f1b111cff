// The real window under an X display (and, for the cases that hold on both, under Wayland):
// start-up, the search screen, the hand-over, the texts, the controls and the keys as a user
// presses them, and the music.
#include "tests/app/windowtest.h"

TEST_F(MainWindowTest, StartsBorderlessOverTheScreenWithTheSearchScreenCentred)
{
    for (int i = 0; i < 3; ++i)
        writeSolidBmp(pictures(QStringLiteral("p%1.bmp").arg(i)), 8, 8, Qt::red);
    auto window = makeWindow(m_pictures.path(), false);

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Lumivane"));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    const QRect screen = QGuiApplication::screens().at(0)->geometry();
    EXPECT_EQ(window->geometry(), screen);
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0, 0, 255));
    EXPECT_EQ(window->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(window->font().pixelSize(), 11);

    const WindowLayout layout = computeLayout(screen.width(), screen.height());
    auto* panel = window->findChild<QFrame*>(QStringLiteral("Panel1"));
    auto* close = window->findChild<QPushButton*>(QStringLiteral("B_Close"));
    auto* page = window->findChild<QPlainTextEdit*>(QStringLiteral("E_Page"));
    auto* cancel = window->findChild<QPushButton*>(QStringLiteral("B_Search_Cancel"));
    ASSERT_TRUE(panel && close && page && cancel);
    EXPECT_EQ(panel->pos(), layout.panel);
    EXPECT_EQ(panel->size(), QSize(470, 257));
    EXPECT_EQ(close->pos(), layout.closeButton);
    EXPECT_EQ(page->pos(), layout.pageBox);
    EXPECT_EQ(close->text(), QStringLiteral("終了(&C)"));
    EXPECT_EQ(cancel->text(), QStringLiteral("検索中止(&C)"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("フォルダ内の画像ファイルを探しています。"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Label2"))->text(),
              QStringLiteral("Lumivane"));
    EXPECT_NE(window->findChild<QLabel*>(QStringLiteral("Label3")), nullptr);
    EXPECT_FALSE(window->findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull());
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("Edit1"))->geometry(),
              QRect(4, 24, 462, 19));

    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_EQ(window->controller().frameCounter(), 0);
    EXPECT_GE(window->controller().pathIndex(), 0);
    EXPECT_LT(window->controller().pathIndex(), PathCount);
    EXPECT_FALSE(window->controller().slideshowRunning());
    EXPECT_TRUE(window->findFileTimer().isActive());
    EXPECT_FALSE(window->slideTimer().isActive());
    // No music lies beside this "executable", so its timer is off for the whole run.
    EXPECT_FALSE(window->musicTimer().isActive());
    EXPECT_EQ(window->controller().searchFolder(), QFile::encodeName(m_pictures.path() + u'/').toStdString());

    window->show();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(close->isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, SearchFolderFallsBackToTheProgramFolder)
{
    const std::string appDir = QFile::encodeName(m_appDir.path() + u'/').toStdString();
    EXPECT_EQ(makeWindow(QString(), false)->controller().searchFolder(), appDir);
    EXPECT_EQ(makeWindow(m_pictures.path() + QStringLiteral("/missing"), false)->controller().searchFolder(),
              appDir);
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 2, 2, Qt::red);
    EXPECT_EQ(makeWindow(pictures(QStringLiteral("a.bmp")), false)->controller().searchFolder(), appDir);
    EXPECT_EQ(makeWindow(m_pictures.path() + u'/', false)->controller().searchFolder(),
              QFile::encodeName(m_pictures.path() + u'/').toStdString());
}

TEST_F(MainWindowTest, FolderArgumentAndProgramFolderKeepTheirBytes)
{
    // Latin-1 names, which are not valid UTF-8: decoding them to text would lose both folders.
    const std::string base = QFile::encodeName(m_pictures.path()).toStdString();
    const std::string photos = base + "/\xe9t\xe9";
    const std::string program = base + "/progr\xe4mm";
    ASSERT_EQ(::mkdir(photos.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(program.c_str(), 0700), 0);
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 4, 4, Qt::red);
    ASSERT_EQ(::rename(QFile::encodeName(pictures(QStringLiteral("a.bmp"))).constData(),
                       (photos + "/a.bmp").c_str()),
              0);
    const int music = ::open((program + "/a.wav").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(music, 0);
    ::close(music);

    QStringList log;
    auto window = makeWindow(program, photos, true, std::make_unique<RecordingDevice>(log));
    EXPECT_EQ(window->controller().searchFolder(), photos + "/");
    EXPECT_EQ(log.value(0), QStringLiteral("open a.wav"));
    ASSERT_TRUE(waitForHandOver(*window));
    EXPECT_TRUE(window->controller().slideshowRunning());
    EXPECT_EQ(window->controller().imageList().unguarded().count(), 1u);
    EXPECT_TRUE(m_messages.empty());
    window.reset();
    // QTemporaryDir cannot remove names that are not valid UTF-8.
    std::filesystem::remove_all(photos);
    std::filesystem::remove_all(program);
}

TEST_F(MainWindowTest, SettingsFileChoosesTheMonitor)
{
    // Under the test display there is one monitor, so every value falls back to monitor 0.
    QFile ini(m_appDir.path() + QStringLiteral("/lumivane.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[DEF]\nMONITOR=1\n");
    ini.close();
    auto window = makeWindow(m_pictures.path(), false);
    EXPECT_EQ(window->monitorIndex(), 0);
    EXPECT_EQ(window->geometry(), QGuiApplication::screens().at(0)->geometry());
}

TEST_F(MainWindowTest, HandsOverToTheSlideshowWithTheFirstPicture)
{
    writeSolidBmp(pictures(QStringLiteral("b.bmp")), 16, 12, Qt::green);
    writeSolidBmp(pictures(QStringLiteral("A.bmp")), 16, 12, Qt::red);
    writeSolidBmp(pictures(QStringLiteral("c.BMP")), 16, 12, Qt::blue);
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));

    EXPECT_TRUE(window->controller().slideshowRunning());
    EXPECT_FALSE(window->controller().searching());
    EXPECT_FALSE(window->findChild<QFrame*>(QStringLiteral("Panel1"))->isVisible());
    EXPECT_TRUE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    EXPECT_TRUE(window->slideTimer().isActive());
    // The first picture in sorted order, shown with its lower-cased name and its position.
    const QString text = pageText(*window);
    EXPECT_TRUE(text.section(u'\n', 0, 0).endsWith(QStringLiteral("a.bmp"))) << text.toStdString();
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/3"));
    EXPECT_EQ(window->controller().slideImage().imageWidth(), 1024);
    EXPECT_EQ(window->controller().slideImage().imageHeight(), 768);
    EXPECT_TRUE(window->slideSurface()->textureCreated());
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, EmptyFolderSaysSoAndEnds)
{
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].kind, Messages::Kind::Plain);
    EXPECT_EQ(m_messages[0].text, QStringLiteral("画像ファイルがありません"));
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_FALSE(window->controller().slideshowRunning());
    EXPECT_FALSE(window->slideTimer().isActive());
    EXPECT_FALSE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    EXPECT_FALSE(window->findChild<QFrame*>(QStringLiteral("Panel1"))->isVisible());
}

// Run by CTest under LANG=en_US.UTF-8, ja_JP.UTF-8 and C.UTF-8, with the language it must give.
TEST_F(MainWindowTest, TextsInTheUsersLanguage)
{
    const QByteArray expected = qgetenv("LUMIVANE_EXPECTED_LANGUAGE");
    if (expected.isEmpty())
        GTEST_SKIP() << "run with LUMIVANE_EXPECTED_LANGUAGE set";
    const bool english = expected == "English";
    // As the program does it: the language from the environment, then the application's.
    Translation translation(userTextLanguage());
    translation.install();
    const auto text = [english](const char* en, const char* ja) {
        return QString::fromUtf8(english ? en : ja);
    };

    auto window = makeWindow(m_pictures.path(), false);
    EXPECT_EQ(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->text(),
              text("&Close", "終了(&C)"));
    EXPECT_EQ(window->findChild<QPlainTextEdit*>(QStringLiteral("E_Page"))->accessibleName(),
              text("Page", "ページ"));
    SearchPanel panel(nullptr);
    EXPECT_EQ(panel.cancelButton()->text(), text("&Cancel search", "検索中止(&C)"));
    EXPECT_EQ(panel.statusLabel()->text(), text("Searching the folder for picture files.",
                                                "フォルダ内の画像ファイルを探しています。"));
    EXPECT_EQ(panel.pathBox()->accessibleName(), text("File being searched", "検索中のファイル"));
    panel.showStopping();
    EXPECT_EQ(panel.statusLabel()->text(),
              text("Stopping the file search", "ファイル検索の中止処理をしています"));
    EXPECT_EQ(panel.cancelButton()->text(), text("Stopping", "中止処理中"));
    // The plain libraries' Japanese error texts, here one around a file name.
    EXPECT_EQ(Messages::translatedErrorText(
                  QStringLiteral("ファイル \"/p/a%1.bmp\". No such file は開けません")),
              text("Cannot open file \"/p/a%1.bmp\". No such file",
                   "ファイル \"/p/a%1.bmp\". No such file は開けません"));

    window->show();
    ASSERT_TRUE(waitForHandOver(*window));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, text("No picture files found", "画像ファイルがありません"));

    writeSolidBmp(pictures(QStringLiteral("only.bmp")), 8, 8, Qt::red);
    window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    EXPECT_EQ(window->slideSurface()->statusLine(),
              text("Loading file (only.bmp)", "Now File(only.bmp) Loading"));
}

TEST_F(MainWindowTest, StatusLineIsOnScreenBeforeThePictureIsRead)
{
    writeSolidBmp(pictures(QStringLiteral("only.bmp")), 32, 32, Qt::red);
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    const_cast<QTimer&>(window->slideTimer()).stop();
    // The hand-over loaded the first picture; no frame has been drawn since, so the status line
    // is still over the surface. Read what the X server shows, not what Qt holds.
    EXPECT_EQ(window->slideSurface()->statusLine(), QStringLiteral("Now File(only.bmp) Loading"));
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    EXPECT_LT(textMismatch(shot, window->font(), window->slideSurface()->statusLine()), 0.02);

    tick(*window);
    EXPECT_TRUE(window->slideSurface()->statusLine().isEmpty());
}

TEST_F(MainWindowTest, ControlCharactersInNamesAreShownAsReplacementCharacters)
{
    writeSolidBmp(pictures(QStringLiteral("line1\nline2\t\x7f.bmp")), 8, 6, Qt::gray);
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    const_cast<QTimer&>(window->slideTimer()).stop();
    // The picture opened by its real name; only what is shown differs.
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(window->controller().slideImage().imageWidth(), 1024);
    const QString shown = QStringLiteral("line1\uFFFDline2\uFFFD\uFFFD.bmp");
    const QStringList lines = pageText(*window).split(u'\n');
    ASSERT_EQ(lines.size(), 2) << pageText(*window).toStdString();
    EXPECT_TRUE(lines[0].endsWith(u'/' + shown)) << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("1/1"));
    EXPECT_EQ(window->slideSurface()->statusLine(),
              QStringLiteral("Now File(") + shown + QStringLiteral(") Loading"));
}

TEST_F(MainWindowTest, MouseButtonsSkipStepBackAndPause)
{
    for (int i = 0; i < 5; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    QWidget* surface = window->slideWidget();
    const QPoint middle = surface->rect().center();

    // Right click on the first of five: the fifth comes next.
    tick(*window);
    QTest::mouseClick(surface, Qt::RightButton, {}, middle);
    EXPECT_EQ(window->controller().currentIndex(), 3);
    EXPECT_EQ(window->controller().frameCounter(), SlideFrames);
    EXPECT_TRUE(window->slideTimer().isActive());
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 4);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("5/5"));

    // Left click on the last: the first comes next.
    QTest::mouseClick(surface, Qt::LeftButton, {}, middle);
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);

    // Right click on the second: the first again.
    QTest::mouseClick(surface, Qt::LeftButton, {}, middle);
    tick(*window);
    ASSERT_EQ(window->controller().currentIndex(), 1);
    QTest::mouseClick(surface, Qt::RightButton, {}, middle);
    EXPECT_EQ(window->controller().currentIndex(), -1);
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);

    // Middle twice: pause with the marker, then resume on the same picture and frame count.
    const int frames = window->controller().frameCounter();
    QTest::mouseClick(surface, Qt::MiddleButton, {}, middle);
    EXPECT_FALSE(window->slideTimer().isActive());
    EXPECT_TRUE(window->slideSurface()->pauseMarkerShown());
    const QImage paused = window->slideSurface()->grabFrame();
    EXPECT_EQ(paused.pixelColor(398, 18), QColor(0, 0, 255));
    EXPECT_EQ(paused.pixelColor(200, 10), QColor(0, 0, 255));
    EXPECT_LT(textMismatch(paused, window->font(), QStringLiteral("Pause")), 0.02);
    QTest::mouseClick(surface, Qt::MiddleButton, {}, middle);
    EXPECT_TRUE(window->slideTimer().isActive());
    tick(*window);
    EXPECT_EQ(window->controller().frameCounter(), frames + 1);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_FALSE(window->slideSurface()->pauseMarkerShown());

    // Middle, then left: the next picture, and the show runs again.
    QTest::mouseClick(surface, Qt::MiddleButton, {}, middle);
    QTest::mouseClick(surface, Qt::LeftButton, {}, middle);
    EXPECT_TRUE(window->slideTimer().isActive());
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 1);

    // A double click's second press counts as a press. (QTest delivers only the double-click
    // event itself, so this is one step back, from the second picture to before the first.)
    QTest::mouseDClick(surface, Qt::RightButton, {}, middle);
    EXPECT_EQ(window->controller().currentIndex(), -1);
    EXPECT_EQ(m_quitRequests, 0);
}

// The keys and the wheel do what the buttons do, whichever control has the focus: Space on the
// close button pauses rather than closing.
TEST_F(MainWindowTest, KeysAndTheWheelStepAndPause)
{
    for (int i = 0; i < 5; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    tick(*window);
    const auto stepTo = [&](const char* position) {
        tick(*window);
        EXPECT_EQ(pagePosition(*window), QLatin1String(position));
    };
    QTest::keyClick(window.get(), Qt::Key_Right);
    stepTo("2/5");
    QTest::keyClick(window.get(), Qt::Key_PageDown);
    stepTo("3/5");
    QTest::keyClick(window.get(), Qt::Key_Left);
    stepTo("2/5");
    QTest::keyClick(window.get(), Qt::Key_PageUp);
    stepTo("1/5");
    QTest::keyClick(window.get(), Qt::Key_PageUp);
    stepTo("5/5");

    // The wheel over the scene reaches the window itself, as the presses do (a wheel event sent
    // by hand is not passed on from the child it is sent to, as the platform's is).
    const QPoint middle = window->rect().center();
    const auto turn = [&](QPoint pixels, QPoint angle) {
        QWheelEvent wheel(middle, window->mapToGlobal(middle), pixels, angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(window.get(), &wheel);
    };
    turn({}, {0, -120});
    stepTo("1/5");
    turn({}, {0, 120});
    stepTo("5/5");
    // A touchpad's small deltas: a step only when they make a whole notch.
    for (int i = 0; i < 3; ++i)
        turn({0, 8}, {0, 30});
    EXPECT_LT(window->controller().frameCounter(), SlideFrames);
    turn({0, 8}, {0, 30});
    stepTo("4/5");

    auto* close = window->findChild<QPushButton*>(QStringLiteral("B_Close"));
    close->setFocus();
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_P, Qt::Key_Pause}) {
        QTest::keyClick(close, key);
        EXPECT_FALSE(window->slideTimer().isActive()) << key;
        EXPECT_TRUE(window->slideSurface()->pauseMarkerShown()) << key;
        QTest::keyClick(close, key);
        EXPECT_TRUE(window->slideTimer().isActive()) << key;
        stepTo("4/5");
        EXPECT_FALSE(window->slideSurface()->pauseMarkerShown()) << key;
    }
    // Paused, the next picture resumes the show.
    QTest::keyClick(close, Qt::Key_P);
    QTest::keyClick(close, Qt::Key_Right);
    EXPECT_TRUE(window->slideTimer().isActive());
    stepTo("5/5");
    EXPECT_EQ(m_quitRequests, 0);
}

TEST_F(MainWindowTest, KeysDuringTheSlideshow)
{
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Up, Qt::Key_Return, Qt::Key_Down})
        QTest::keyClick(window.get(), key);
    // C with Ctrl or Meta is not the close key.
    auto* page = window->findChild<QPlainTextEdit*>(QStringLiteral("E_Page"));
    page->setFocus();
    for (const auto modifiers :
         {Qt::KeyboardModifiers(Qt::ControlModifier), Qt::KeyboardModifiers(Qt::MetaModifier),
          Qt::ControlModifier | Qt::ShiftModifier}) {
        QTest::keyClick(window.get(), Qt::Key_C, modifiers);
        QTest::keyClick(page, Qt::Key_C, modifiers);
    }
    EXPECT_EQ(m_quitRequests, 0);

    // C, with or without Shift, ends the program through the close button, whichever control
    // has the focus.
    QTest::keyClick(page, Qt::Key_C);
    EXPECT_EQ(m_quitRequests, 1);
    auto shifted = startSlideshow(m_pictures.path());
    QTest::keyClick(shifted->findChild<QPlainTextEdit*>(QStringLiteral("E_Page")), Qt::Key_C,
                    Qt::ShiftModifier);
    EXPECT_EQ(m_quitRequests, 2);

    auto second = startSlideshow(m_pictures.path());
    const_cast<QTimer&>(second->slideTimer()).start();
    QTest::keyClick(second.get(), Qt::Key_Escape);
    EXPECT_FALSE(second->slideTimer().isActive());
    EXPECT_EQ(m_quitRequests, 3);

    // During the search the window itself, when it has the focus, takes Shift+C as well. (The
    // event loop has not run since, so the search has not been handed over yet.)
    auto searching = makeWindow(m_pictures.path(), false);
    searching->show();
    searching->setFocus();
    QTest::keyClick(searching.get(), Qt::Key_C, Qt::ShiftModifier);
    EXPECT_EQ(m_quitRequests, 4);
    EXPECT_FALSE(searching->controller().searching());
}

TEST_F(MainWindowTest, ClicksDuringTheSearchDoNothing)
{
    // Keep the search screen up: with its timer stopped before the event loop first runs, the
    // search of the empty folder is never handed over (which would end the program), however
    // long the window takes to appear.
    auto window = makeWindow(m_pictures.path(), false);
    const_cast<QTimer&>(window->findFileTimer()).stop();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::mouseClick(window->slideWidget(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(window->slideWidget(), Qt::RightButton, {}, QPoint(5, 5));
    QTest::mouseClick(window->slideWidget(), Qt::MiddleButton, {}, QPoint(5, 5));
    // Nor do the show's keys and the wheel.
    window->setFocus();
    for (const Qt::Key key : {Qt::Key_Right, Qt::Key_PageUp, Qt::Key_Space, Qt::Key_P})
        QTest::keyClick(window.get(), key);
    QWheelEvent wheel(QPointF(5, 5), window->mapToGlobal(QPointF(5, 5)), {}, {0, -360},
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window.get(), &wheel);
    EXPECT_TRUE(window->controller().searching());
    EXPECT_FALSE(window->controller().slideshowRunning());
    EXPECT_EQ(window->controller().frameCounter(), 0);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_FALSE(window->slideTimer().isActive());
    EXPECT_EQ(m_quitRequests, 0);
}

TEST_F(MainWindowTest, EscapeDuringALargeSearchStopsPromptly)
{
    // A tree large enough that its walk takes far longer than the stop may.
    QDir root(m_pictures.path());
    for (int d = 0; d < 200; ++d) {
        const QString sub = QStringLiteral("d%1/e").arg(d);
        ASSERT_TRUE(root.mkpath(sub));
        for (int f = 0; f < 100; ++f) {
            const QByteArray name =
                QFile::encodeName(root.filePath(sub + QStringLiteral("/f%1.jpg").arg(f)));
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
    }
    auto window = makeWindow(m_pictures.path(), false);
    window->show();
    auto* label = window->findChild<QLabel*>(QStringLiteral("Label1"));
    auto* cancel = window->findChild<QPushButton*>(QStringLiteral("B_Search_Cancel"));
    ASSERT_TRUE(window->controller().searching());
    QStringList seen;
    QObject::connect(window.get(), &MainWindow::quitRequested,
                     [&] { seen << label->text() << cancel->text(); });
    QElapsedTimer clock;
    clock.start();
    // Escape in the path box, where the focus is during the search.
    QTest::keyClick(window->findChild<QLineEdit*>(QStringLiteral("Edit1")), Qt::Key_Escape);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("ファイル検索の中止処理をしています"),
                                 QStringLiteral("中止処理中")}));
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_FALSE(window->controller().searching());
    EXPECT_FALSE(window->findFileTimer().isActive());
    EXPECT_FALSE(window->controller().slideshowRunning());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_quitRequests, 1);
}

TEST_F(MainWindowTest, AltCStopsTheSearchWhileAPlainCIsTypedIntoThePathBox)
{
    QDir root(m_pictures.path());
    for (int d = 0; d < 100; ++d) {
        ASSERT_TRUE(root.mkpath(QStringLiteral("d%1").arg(d)));
        for (int f = 0; f < 100; ++f) {
            const QByteArray name =
                QFile::encodeName(root.filePath(QStringLiteral("d%1/f%2.bmp").arg(d).arg(f)));
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
    }
    auto window = makeWindow(m_pictures.path(), false);
    window->show();
    // Accelerators act in the active window. Activating it directly keeps the event loop from
    // running, so the search is still going when the keys arrive.
    QApplication::setActiveWindow(window.get());
    auto* pathBox = window->findChild<QLineEdit*>(QStringLiteral("Edit1"));
    pathBox->setFocus();
    QTest::keyClick(pathBox, Qt::Key_C);
    EXPECT_EQ(m_quitRequests, 0);
    ASSERT_TRUE(window->controller().searching());
    QTest::keyClick(pathBox, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_FALSE(window->controller().searching());
    EXPECT_EQ(window->findChild<QPushButton*>(QStringLiteral("B_Search_Cancel"))->text(),
              QStringLiteral("中止処理中"));
}

TEST_F(MainWindowTest, MusicPlaysThroughTheSearchAndWhilePausedAndStopsAtTheEnd)
{
    for (const char* name : {"b.mp3", "A.wav", "notes.txt"}) {
        QFile file(m_appDir.path() + u'/' + QString::fromLatin1(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    QStringList log;
    auto window = makeWindow(m_pictures.path(), false, std::make_unique<RecordingDevice>(log));
    EXPECT_EQ(log, (QStringList{QStringLiteral("open A.wav"), QStringLiteral("play")}));
    EXPECT_TRUE(window->musicTimer().isActive());

    window->musicTick(); // still playing
    window->musicTick(); // has stopped: the next file, opened in the background, then played
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->musicOpening(); }));
    EXPECT_EQ(log.mid(2), (QStringList{QStringLiteral("close"), QStringLiteral("open b.mp3"),
                                       QStringLiteral("play")}));

    window->show();
    ASSERT_TRUE(waitForHandOver(*window));
    QTest::mouseClick(window->slideWidget(), Qt::MiddleButton);
    ASSERT_FALSE(window->slideTimer().isActive());
    EXPECT_TRUE(window->musicTimer().isActive());
    log.clear();
    window->musicTick();
    window->musicTick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->musicOpening(); }));
    EXPECT_EQ(log, (QStringList{QStringLiteral("close"), QStringLiteral("open A.wav"),
                                QStringLiteral("play")}));

    log.clear();
    window.reset();
    EXPECT_TRUE(log.contains(QStringLiteral("destroyed")));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, MusicThatCannotOpenIsReportedOnceAndStartUpGoesOn)
{
    QFile music(m_appDir.path() + QStringLiteral("/a.wav"));
    ASSERT_TRUE(music.open(QIODevice::WriteOnly));
    music.close();
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    QStringList log;
    auto window = makeWindow(m_pictures.path(), false, std::make_unique<FailingDevice>(log));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, QStringLiteral("no audio output."));
    EXPECT_TRUE(window->controller().searching());
    for (int i = 0; i < 3; ++i)
        window->musicTick();
    EXPECT_EQ(m_messages.size(), 1u);
    window->show();
    EXPECT_TRUE(waitForHandOver(*window));
    EXPECT_TRUE(window->controller().slideshowRunning());
}

TEST_F(MainWindowTest, PathsAreShortenedInTheWindowFont)
{
    auto window = makeWindow(m_pictures.path(), false);
    const QFontMetrics metrics(window->font());
    const auto width = [&](const QString& text) { return metrics.horizontalAdvance(text); };
    const QString path =
        QStringLiteral("/home/user/写真/2024 summer holiday/day three/img_0001.jpg");
    const QString fitted = fitPathToWidth(path, width, 190);
    EXPECT_LE(width(fitted), 190);
    EXPECT_TRUE(fitted.endsWith(QStringLiteral("/img_0001.jpg")));
    EXPECT_TRUE(fitted.startsWith(QStringLiteral("/.../"))) << fitted.toStdString();
    // The first shortening that fits is the one taken: one folder more does not fit.
    const QString folders = fitted.mid(5);
    EXPECT_GT(width(QStringLiteral("/.../") + path.section(u'/', -(folders.count(u'/') + 2))), 190);
    EXPECT_EQ(fitPathToWidth(QStringLiteral("/p/a.jpg"), width, 462), QStringLiteral("/p/a.jpg"));
}

TEST(ErrorBox, AppendsAFullStopAfterCharactersAboveIt)
{
    EXPECT_EQ(Messages::errorBoxText(QStringLiteral("ストリームからの読み込みエラー")),
              QStringLiteral("ストリームからの読み込みエラー."));
    EXPECT_EQ(Messages::errorBoxText(QStringLiteral("Invalid DIB(24Bit)")),
              QStringLiteral("Invalid DIB(24Bit)"));
    EXPECT_EQ(Messages::errorBoxText(QStringLiteral("done.")), QStringLiteral("done."));
    EXPECT_EQ(Messages::errorBoxText(QStringLiteral("a/")), QStringLiteral("a/."));
    EXPECT_EQ(Messages::errorBoxText(QString()), QString());
}

// A watched show whose folder holds no pictures shows the waiting screen with the close button
// over it, and Escape quits.
TEST_F(MainWindowTest, WatchedEmptyFolderShowsTheWaitingScreen)
{
    m_show.watch = true;
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().waitingForPictures(); }, 10000));
    const auto* label = window->findChild<QLabel*>(QStringLiteral("WaitingLabel"));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->isVisible());
    EXPECT_TRUE(label->text().contains(QDir(m_pictures.path()).dirName()))
        << label->text().toStdString();
    EXPECT_TRUE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    EXPECT_TRUE(m_messages.empty());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
}

// Wheel notches that arrive within one frame each move a picture, as a user turning the wheel
// quickly expects: three down, then three up.
TEST_F(MainWindowTest, WheelNotchesWithinOneFrameEachMoveAPicture)
{
    for (int i = 0; i < 6; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    tick(*window);
    const QPoint middle = window->rect().center();
    const auto turn = [&](int angle) {
        QWheelEvent wheel(middle, window->mapToGlobal(middle), {}, {0, angle}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(window.get(), &wheel);
    };
    for (int i = 0; i < 3; ++i)
        turn(-120);
    tick(*window);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("4/6"));
    for (int i = 0; i < 3; ++i)
        turn(120);
    tick(*window);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/6"));
}
