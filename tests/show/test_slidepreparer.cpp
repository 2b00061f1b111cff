#include "show/slidepreparer.h"

#include "tests/support/testpictures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A scratch folder of pictures; picture i is a plain bitmap 10 + i pixels wide and 8 high, so
// that its placement tells which file a finished slide came from.
class Pictures
{
public:
    explicit Pictures(int count)
    {
        m_dir =
            std::filesystem::temp_directory_path() /
            ("lumivane-preparer-" + std::to_string(::getpid()) + "-" + std::to_string(s_serial++));
        std::filesystem::create_directories(m_dir);
        for (int i = 0; i < count; ++i) {
            const RgbImage image = TestPictures::makeImage(10 + i, 8, [](int, int) {
                return std::array{90, 120, 150};
            });
            m_paths.push_back(file(std::to_string(i) + ".bmp"));
            EXPECT_TRUE(TestPictures::writeFile(m_paths.back(), TestPictures::encodeBmp(image)));
        }
    }
    ~Pictures() { std::filesystem::remove_all(m_dir); }

    std::string file(const std::string& name) const { return (m_dir / name).string(); }
    std::vector<std::string>& paths() { return m_paths; }

    static int widthOf(int index) { return placeSlide(10 + index, 8).imageWidth; }

private:
    static inline int s_serial = 0;
    std::filesystem::path m_dir;
    std::vector<std::string> m_paths;
};

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Records which pictures the worker starts, in order, and on which thread.
struct WorkLog
{
    std::mutex mutex;
    std::vector<int> order;
    bool onCallerThread = false;

    std::function<void(int, std::stop_token)> hook(std::thread::id caller)
    {
        return [this, caller](int index, std::stop_token) {
            std::lock_guard lock(mutex);
            order.push_back(index);
            onCallerThread = onCallerThread || std::this_thread::get_id() == caller;
        };
    }
    std::vector<int> started()
    {
        std::lock_guard lock(mutex);
        return order;
    }
    bool ranOnCallerThread()
    {
        std::lock_guard lock(mutex);
        return onCallerThread;
    }
};

TEST(SlidePreparer, PreparesWhatTheShowNeedsNextAndHoldsAtMostTwo)
{
    Pictures pictures(6);
    WorkLog log;
    std::atomic<int> ready = 0;
    SlidePreparer preparer(pictures.paths(), [&] { ++ready; });
    preparer.setWorkHookForTesting(log.hook(std::this_thread::get_id()));

    // Nothing is made before the show says where it is.
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(log.started().empty());

    // The first picture, awaited, comes first; then the next. The previous one would be a
    // third finished picture and waits until the first has been handed out.
    preparer.setCurrent(0, false);
    ASSERT_TRUE(waitUntil([&] { return preparer.isIdle(); }));
    EXPECT_EQ(log.started(), (std::vector<int>{0, 1}));
    EXPECT_EQ(preparer.preparedIndices(), (std::vector<int>{0, 1}));
    EXPECT_TRUE(waitUntil([&] { return ready == 2; }));

    std::optional<PreparedSlide> first = preparer.take(0);
    ASSERT_TRUE(first && first->slide);
    EXPECT_EQ(first->slide->imageWidth(), Pictures::widthOf(0));
    EXPECT_FALSE(preparer.take(0)); // handed out once
    // Nothing new starts until the picture is on screen.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(log.started(), (std::vector<int>{0, 1}));
    preparer.resume();
    // A look at a finished picture, while the worker makes the next, leaves it in place.
    ASSERT_NE(preparer.peek(1), nullptr);
    EXPECT_EQ(preparer.peek(1)->imageWidth(), Pictures::widthOf(1));
    EXPECT_EQ(preparer.peek(4), nullptr);
    ASSERT_TRUE(waitUntil([&] { return preparer.isIdle(); }));
    EXPECT_EQ(log.started(), (std::vector<int>{0, 1, 5}));
    EXPECT_EQ(preparer.preparedIndices(), (std::vector<int>{1, 5}));

    // A step forward: the picture that was on screen comes back as the new previous one, so
    // only the new next picture is read.
    std::optional<PreparedSlide> second = preparer.take(1, &*first);
    ASSERT_TRUE(second && second->slide);
    EXPECT_FALSE(first->slide);
    EXPECT_EQ(preparer.peek(1), nullptr);
    preparer.resume();
    ASSERT_TRUE(waitUntil([&] { return preparer.isIdle(); }));
    EXPECT_EQ(log.started(), (std::vector<int>{0, 1, 5, 2}));
    EXPECT_EQ(preparer.preparedIndices(), (std::vector<int>{0, 2}));

    // A jump elsewhere drops what is no longer a neighbour and makes the new picture first.
    preparer.setCurrent(3, false);
    EXPECT_TRUE(preparer.preparedIndices().empty());
    ASSERT_TRUE(waitUntil([&] { return preparer.isIdle(); }));
    EXPECT_EQ(log.started(), (std::vector<int>{0, 1, 5, 2, 3, 4}));
    const std::optional<PreparedSlide> third = preparer.take(3);
    ASSERT_TRUE(third && third->slide);
    EXPECT_EQ(third->slide->imageWidth(), Pictures::widthOf(3));
    EXPECT_FALSE(log.ranOnCallerThread());

    // With a single picture its next is itself: it is read again for every change.
    Pictures one(1);
    SlidePreparer single(one.paths());
    single.setCurrent(0, true);
    ASSERT_TRUE(waitUntil([&] { return single.isIdle(); }));
    EXPECT_EQ(single.preparedIndices(), (std::vector<int>{0}));
}

// A shuffled show names the neighbours of its play order; the list's own are not made.
TEST(SlidePreparer, PreparesTheNeighboursItIsGiven)
{
    Pictures pictures(6);
    WorkLog log;
    SlidePreparer preparer(pictures.paths());
    preparer.setWorkHookForTesting(log.hook(std::this_thread::get_id()));
    const SlidePreparer::Neighbours around{.next = 5, .previous = 0};
    preparer.setCurrent(2, false, around);
    ASSERT_TRUE(waitUntil([&] { return preparer.isIdle(); }));
    EXPECT_EQ(log.started(), (std::vector<int>{2, 5}));
    ASSERT_TRUE(preparer.take(2, nullptr, around));
    preparer.resume();
    ASSERT_TRUE(waitUntil([&] { return preparer.isIdle(); }));
    EXPECT_EQ(log.started(), (std::vector<int>{2, 5, 0}));
    EXPECT_EQ(preparer.preparedIndices(), (std::vector<int>{0, 5}));
}

TEST(SlidePreparer, KeepsTheReadersErrorForTheShowAndAnUnreadableJpegIsWhite)
{
    Pictures pictures(1);
    ASSERT_TRUE(TestPictures::writeFile(pictures.file("broken.bmp"), {'B', 'M', '1', '2'}));
    ASSERT_TRUE(TestPictures::writeFile(pictures.file("broken.jpg"), {0xFF, 0xD8, 0xFF, 0x00}));
    std::vector<std::string> paths{pictures.paths()[0], pictures.file("broken.bmp"),
                                   pictures.file("broken.jpg")};
    SlidePreparer preparer(paths);

    preparer.setCurrent(1, false);
    ASSERT_TRUE(waitUntil([&] { return preparer.isIdle(); }));
    // Picture 0 is on screen, a neighbour of both others.
    PreparedSlide shown{0, std::make_unique<SlideImage>(), {}};
    std::optional<PreparedSlide> failed = preparer.take(1, &shown);
    ASSERT_TRUE(failed);
    EXPECT_FALSE(failed->slide);
    ASSERT_TRUE(failed->error);
    try {
        std::rethrow_exception(failed->error);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "ストリームからの読み込みエラー");
    }
    // The error leaves the picture on screen where it is.
    EXPECT_TRUE(shown.slide);

    preparer.resume();
    ASSERT_TRUE(waitUntil([&] { return preparer.isIdle(); }));
    std::optional<PreparedSlide> jpeg = preparer.take(2);
    ASSERT_TRUE(jpeg && jpeg->slide);
    EXPECT_FALSE(jpeg->error);
    EXPECT_EQ(jpeg->slide->imageWidth(), SlideImage::TextureSize);
    const std::uint8_t* texels = jpeg->slide->texturePixels();
    EXPECT_TRUE(std::all_of(texels, texels + SlideImage::TextureBytes,
                            [](std::uint8_t v) { return v == 255; }));
}

TEST(SlidePreparer, AbandonsUnwantedWorkAndStopsPromptly)
{
    Pictures pictures(8);
    // The worker holds each picture until it is told to stop, as a long decode would.
    std::atomic<int> abandoned = 0;
    WorkLog log;
    {
        SlidePreparer preparer(pictures.paths());
        const auto record = log.hook(std::this_thread::get_id());
        preparer.setWorkHookForTesting([&](int index, std::stop_token stop) {
            record(index, stop);
            if (waitUntil([&] { return stop.stop_requested(); }, 5s))
                ++abandoned;
        });
        preparer.setCurrent(2, false);
        ASSERT_TRUE(waitUntil([&] { return log.started().size() == 1; }));
        // The show moves on before picture 2 is ready: 2 is no longer needed at all.
        preparer.setCurrent(6, false);
        ASSERT_TRUE(waitUntil([&] { return log.started().size() == 2; }));
        EXPECT_EQ(abandoned, 1);
        EXPECT_EQ(log.started(), (std::vector<int>{2, 6}));
        EXPECT_TRUE(preparer.preparedIndices().empty());
        // The show now waits for 0, whose next (in a shuffled order) is 6: 6 is still wanted,
        // but nothing may hold up the awaited picture, so its work stops and 0 starts at once.
        preparer.setCurrent(0, false, {.next = 6});
        ASSERT_TRUE(waitUntil([&] { return log.started().size() == 3; }));
        EXPECT_EQ(abandoned, 2);
        EXPECT_EQ(log.started(), (std::vector<int>{2, 6, 0}));
    }
    // Destroying the preparer abandoned the picture in progress and waited for the worker.
    EXPECT_EQ(abandoned, 3);

    // The decoder itself gives up once the stop is requested, baseline and progressive alike
    // (a progressive file is checked while its scans are read, before any row is decoded).
    const RgbImage picture = TestPictures::makeImage(640, 480, [](int x, int y) {
        return std::array{x % 256, y % 256, 90};
    });
    std::stop_source stop;
    stop.request_stop();
    for (const bool progressive : {false, true}) {
        const std::string path = pictures.file(progressive ? "p.jpg" : "b.jpg");
        ASSERT_TRUE(TestPictures::writeFile(
            path, TestPictures::encodeJpeg(picture, {.progressive = progressive})));
        SlideImage slide;
        slide.prepare(path, stop.get_token());
        EXPECT_EQ(slide.decoderNote(), "JPEG decoding stopped") << path;
        slide.prepare(path);
        EXPECT_EQ(slide.decoderNote(), "") << path;
        EXPECT_EQ(slide.imageHeight(), 768);
    }
}

} // namespace
