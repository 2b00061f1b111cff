#include "music/musicdeviceerror.h"
#include "music/musicplaylist.h"
#include "music/sdlmusicdevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_mixer.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "lumivane-music-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern + "/";
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending with "/" as the window passes it.
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

void putLE(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void putBE(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

constexpr int kToneRate = 44100;

// A mono 16-bit PCM WAV file holding a sine tone.
std::string toneWav(double frequency, double seconds)
{
    const auto samples = static_cast<std::uint32_t>(seconds * kToneRate);
    std::string wav = "RIFF";
    putLE(wav, 36 + samples * 2, 4);
    wav += "WAVEfmt ";
    putLE(wav, 16, 4);
    putLE(wav, 1, 2); // PCM
    putLE(wav, 1, 2); // mono
    putLE(wav, kToneRate, 4);
    putLE(wav, kToneRate * 2, 4);
    putLE(wav, 2, 2);
    putLE(wav, 16, 2);
    wav += "data";
    putLE(wav, samples * 2, 4);
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double value = 16000.0 * std::sin(2.0 * M_PI * frequency * i / kToneRate);
        putLE(wav, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)), 2);
    }
    return wav;
}

// A format-0 MIDI file that plays one organ note (C5, about 523 Hz) for half a second. An organ
// stops soon after its note ends, where a piano would ring on for seconds.
std::string oneNoteMidi()
{
    std::string track;
    track += std::string("\x00\xc0\x10", 3);     // program change, channel 0, Hammond organ
    track += std::string("\x00\x90\x48\x64", 4); // note on, channel 0, C5, velocity 100
    track += std::string("\x60\x80\x48\x40", 4); // 96 ticks later (half a second) note off
    track += std::string("\x00\xff\x2f\x00", 4); // end of track
    std::string midi = "MThd";
    putBE(midi, 6, 4);
    putBE(midi, 0, 2);  // format 0
    putBE(midi, 1, 2);  // one track
    putBE(midi, 96, 2); // ticks per quarter note at the default 120 beats per minute
    midi += "MTrk";
    putBE(midi, static_cast<std::uint32_t>(track.size()), 4);
    return midi + track;
}

// Encodes a tone to MP3 with the lame encoder; false when lame is not installed or fails.
bool writeToneMp3(const std::string& mp3Path, double frequency, double seconds)
{
    if (std::system("command -v lame >/dev/null 2>&1") != 0)
        return false;
    const std::string wavPath = mp3Path + ".source";
    writeFile(wavPath, toneWav(frequency, seconds));
    const std::string command = "lame --silent -b 128 '" + wavPath + "' '" + mp3Path + "'";
    const bool ok = std::system(command.c_str()) == 0;
    fs::remove(wavPath);
    return ok;
}

std::vector<std::string> displaysOf(const SortedStringList& list)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < list.count(); ++i)
        out.push_back(list.at(i).display.toStdString());
    return out;
}

std::vector<std::string> pathsOf(const SortedStringList& list)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < list.count(); ++i)
        out.push_back(list.at(i).path);
    return out;
}

// What a fake device has been asked to do, kept by the test after the playlist owns the device.
struct FakeDeviceLog
{
    std::vector<std::string> opened;
    std::set<std::string> unopenable; // file names whose open fails
    std::set<std::string> unplayable; // file names that open but do not play
    bool isOpen = false;
    bool playing = false;
    int closes = 0;

    // The file playing reaches its end.
    void finish() { playing = false; }
};

class FakeDevice final : public MusicDevice
{
public:
    explicit FakeDevice(std::shared_ptr<FakeDeviceLog> log) : m_log(std::move(log)) {}

    void open(const std::string& path) override
    {
        close();
        m_log->opened.push_back(fs::path(path).filename().string());
        if (m_log->unopenable.count(m_log->opened.back()) != 0)
            throw MusicDeviceError("cannot open " + m_log->opened.back());
        m_log->isOpen = true;
    }
    bool play() override
    {
        m_log->playing = m_log->isOpen && m_log->unplayable.count(m_log->opened.back()) == 0;
        return m_log->playing;
    }
    std::optional<Mode> mode() const override
    {
        if (!m_log->isOpen)
            return std::nullopt;
        return m_log->playing ? Mode::Playing : Mode::Stopped;
    }
    void close() override
    {
        if (m_log->isOpen)
            ++m_log->closes;
        m_log->isOpen = false;
        m_log->playing = false;
    }

private:
    std::shared_ptr<FakeDeviceLog> m_log;
};

struct FakePlaylist
{
    std::shared_ptr<FakeDeviceLog> log = std::make_shared<FakeDeviceLog>();
    MusicPlaylist playlist{std::make_unique<FakeDevice>(log)};
};

void touch(const TempDir& dir, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        writeFile(dir.path() + name, "x");
}

} // namespace

TEST(MusicListing, TakesOnlyMusicFilesDirectlyInTheFolder)
{
    TempDir dir;
    touch(dir, {"B.mp3", "a.wav", "c.MID", ".hidden.mid", "notes.txt", "x.wma", "y.ogg", "z.midi",
                "w.rmi", "a.wav.bak", "mp3", "Q.Wav"});
    fs::create_directory(dir.path() + "sub");
    touch(dir, {"sub/d.mp3"});
    fs::create_directory(dir.path() + "folder.mp3");
    ASSERT_EQ(mkfifo((dir.path() + "pipe.wav").c_str(), 0600), 0);
    fs::create_symlink(dir.path() + "missing.wav", dir.path() + "dangling.mp3");
    fs::create_symlink(dir.path() + "a.wav", dir.path() + "link.wav");
    fs::create_directory_symlink(dir.path() + "sub", dir.path() + "sublink.mid");

    FakePlaylist fake;
    EXPECT_TRUE(fake.playlist.findMusicFiles(dir.path()));

    // The list shows the file name lower-cased but opens the name as it is on disk.
    const std::string d = dir.path();
    EXPECT_THAT(pathsOf(fake.playlist.musicList()),
                UnorderedElementsAre(d + "B.mp3", d + "a.wav", d + "c.MID", d + ".hidden.mid",
                                     d + "Q.Wav", d + "link.wav"));
    EXPECT_THAT(displaysOf(fake.playlist.musicList()),
                UnorderedElementsAre(d + "b.mp3", d + "a.wav", d + "c.mid", d + ".hidden.mid",
                                     d + "q.wav", d + "link.wav"));
    EXPECT_TRUE(fake.log->opened.empty());
}

TEST(MusicListing, FindsNothingInAnEmptyOrMissingFolder)
{
    TempDir dir;
    fs::create_directory(dir.path() + "sub");
    touch(dir, {"sub/a.wav", "readme.txt"});
    FakePlaylist fake;
    EXPECT_FALSE(fake.playlist.findMusicFiles(dir.path()));
    EXPECT_FALSE(fake.playlist.findMusicFiles(dir.path() + "missing/"));
    EXPECT_EQ(fake.playlist.musicList().count(), 0u);

    // Nothing to play: neither the start nor a tick reaches the device.
    fake.playlist.startFirst();
    fake.playlist.tick();
    EXPECT_EQ(fake.playlist.musicIndex(), -1);
    EXPECT_TRUE(fake.log->opened.empty());
}

TEST(MusicPlayback, PlaysInSortedOrderAndWrapsAround)
{
    TempDir dir;
    touch(dir, {"c.MID", "B.mp3", "a.wav"});
    FakePlaylist fake;
    ASSERT_TRUE(fake.playlist.findMusicFiles(dir.path()));

    // Before the start the query fails, so a tick does nothing.
    fake.playlist.tick();
    EXPECT_EQ(fake.playlist.musicIndex(), -1);

    EXPECT_THAT(displaysOf(fake.playlist.musicList()),
                ElementsAre(dir.path() + "a.wav", dir.path() + "b.mp3", dir.path() + "c.mid"));

    fake.playlist.startFirst();
    std::vector<int> indices;
    for (int song = 0; song < 4; ++song) {
        // Ticks while the file plays change nothing.
        fake.playlist.tick();
        fake.playlist.tick();
        indices.push_back(fake.playlist.musicIndex());
        fake.log->finish();
        fake.playlist.tick();
    }
    EXPECT_THAT(indices, ElementsAre(0, 1, 2, 0));
    EXPECT_THAT(fake.log->opened, ElementsAre("a.wav", "B.mp3", "c.MID", "a.wav", "B.mp3"));
    // Each open after the first closed the file before it.
    EXPECT_EQ(fake.log->closes, 4);
}

TEST(MusicPlayback, RepeatsASingleFile)
{
    TempDir dir;
    touch(dir, {"only.wav"});
    FakePlaylist fake;
    ASSERT_TRUE(fake.playlist.findMusicFiles(dir.path()));
    fake.playlist.startFirst();
    for (int i = 0; i < 3; ++i) {
        fake.log->finish();
        fake.playlist.tick();
        EXPECT_EQ(fake.playlist.musicIndex(), 0);
        EXPECT_EQ(fake.log->playing, true);
    }
    EXPECT_EQ(fake.log->opened.size(), 4u);
}

TEST(MusicPlayback, FailedOpenIsReportedOnceAndSilencesTheRest)
{
    TempDir dir;
    touch(dir, {"a.wav", "b.mp3", "c.mid"});
    FakePlaylist fake;
    fake.log->unopenable = {"b.mp3"};
    ASSERT_TRUE(fake.playlist.findMusicFiles(dir.path()));
    fake.playlist.startFirst();
    fake.log->finish();

    EXPECT_THROW(fake.playlist.tick(), MusicDeviceError);
    for (int i = 0; i < 5; ++i)
        EXPECT_NO_THROW(fake.playlist.tick());
    EXPECT_THAT(fake.log->opened, ElementsAre("a.wav", "b.mp3"));
    EXPECT_EQ(fake.playlist.musicIndex(), 1);
}

TEST(MusicPlayback, OpensLaterFilesInTheBackgroundAndPlaysThemOnTheOwnersThread)
{
    TempDir dir;
    touch(dir, {"a.wav", "b.mp3", "c.mid"});
    FakePlaylist fake;
    fake.log->unopenable = {"c.mid"};
    ASSERT_TRUE(fake.playlist.findMusicFiles(dir.path()));
    fake.playlist.startFirst();
    std::atomic<int> opened = 0;
    fake.playlist.openInBackground([&] { ++opened; });
    auto waitForOpen = [&](int count) {
        for (int i = 0; i < 5000 && opened < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return opened == count;
    };

    // The stopped file is closed at once; the next one opens elsewhere and plays only when the
    // owner finishes the open. Ticks meanwhile leave the device alone.
    fake.log->finish();
    fake.playlist.tick();
    ASSERT_TRUE(waitForOpen(1));
    EXPECT_TRUE(fake.playlist.opening());
    fake.playlist.tick();
    EXPECT_FALSE(fake.log->playing);
    fake.playlist.finishOpen();
    EXPECT_FALSE(fake.playlist.opening());
    EXPECT_TRUE(fake.log->playing);
    EXPECT_EQ(fake.playlist.musicIndex(), 1);

    // A failed open is raised by the owner's finishOpen, once, and the music stays silent.
    fake.log->finish();
    fake.playlist.tick();
    ASSERT_TRUE(waitForOpen(2));
    EXPECT_THROW(fake.playlist.finishOpen(), MusicDeviceError);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NO_THROW(fake.playlist.tick());
        EXPECT_NO_THROW(fake.playlist.finishOpen());
    }
    EXPECT_THAT(fake.log->opened, ElementsAre("a.wav", "b.mp3", "c.mid"));
    EXPECT_FALSE(fake.log->playing);
}

TEST(MusicPlayback, SkipsAFileThatOpensButDoesNotPlay)
{
    TempDir dir;
    touch(dir, {"a.wav", "b.mp3", "c.mid"});
    FakePlaylist fake;
    fake.log->unplayable = {"a.wav", "b.mp3"};
    ASSERT_TRUE(fake.playlist.findMusicFiles(dir.path()));
    fake.playlist.startFirst();
    // One tick per unplayable file, without an error, and c.mid then plays on.
    fake.playlist.tick();
    fake.playlist.tick();
    fake.playlist.tick();
    EXPECT_THAT(fake.log->opened, ElementsAre("a.wav", "b.mp3", "c.mid"));
    EXPECT_EQ(fake.playlist.musicIndex(), 2);
    EXPECT_TRUE(fake.log->playing);
}

namespace {

// A real SDL2_mixer device that also notes each file it is asked to open and how long the open
// took, so that tests can follow the playlist through real playback.
struct OpenRecord
{
    std::string name;
    double milliseconds = 0;
};

class RecordingSdlDevice final : public MusicDevice
{
public:
    explicit RecordingSdlDevice(std::shared_ptr<std::vector<OpenRecord>> opens)
        : m_opens(std::move(opens))
    {}

    void open(const std::string& path) override
    {
        const auto start = std::chrono::steady_clock::now();
        m_opens->push_back({fs::path(path).filename().string(), 0});
        m_device.open(path);
        m_opens->back().milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
    }
    bool play() override { return m_device.play(); }
    std::optional<Mode> mode() const override { return m_device.mode(); }
    void close() override { m_device.close(); }

private:
    SdlMusicDevice m_device;
    std::shared_ptr<std::vector<OpenRecord>> m_opens;
};

// Real playback through SDL's disk audio driver, which writes the mixed output to a file in real
// time instead of to a sound card. The music folder and the output file live in separate folders.
class SdlDiskPlayback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", m_outputPath.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
    }

    // Calls tick() every 20 ms, as the window's timer would once a second, until done() holds or
    // the limit has passed. Returns whether done() held. Errors from tick() are collected.
    bool tickUntil(MusicPlaylist& playlist, const std::function<bool()>& done,
                   std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (done())
                return true;
            try {
                playlist.tick();
            } catch (const MusicDeviceError& error) {
                m_errors.push_back(error.what());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return done();
    }

    // Notes the format of the output; call while the audio output is open.
    void captureSpec()
    {
        Uint16 format = 0;
        ASSERT_EQ(Mix_QuerySpec(&m_rate, &format, &m_channels), 1);
        ASSERT_EQ(format, AUDIO_S16LSB);
    }

    // The output, cut into windows of about 46 ms, each labelled by its dominant tone: 'A' for
    // 440 Hz, 'B' for 660 Hz, 'S' for 1000 Hz, 'M' for any other sound and '.' for silence.
    // Consecutive windows of one label are merged; silence and single stray windows at the seams
    // between two files are dropped.
    std::string toneSequence() const
    {
        std::ifstream in(m_outputPath, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        const std::size_t frames = bytes.size() / 2 / static_cast<std::size_t>(m_channels);
        auto sample = [&](std::size_t frame) {
            std::int16_t value = 0;
            std::memcpy(&value, bytes.data() + frame * 2 * static_cast<std::size_t>(m_channels), 2);
            return static_cast<double>(value);
        };

        constexpr std::size_t kWindow = 2048;
        std::string labels;
        for (std::size_t start = 0; start + kWindow <= frames; start += kWindow) {
            double energy = 0;
            for (std::size_t i = 0; i < kWindow; ++i)
                energy += sample(start + i) * sample(start + i);
            const double peak = std::sqrt(2.0 * energy / kWindow);
            if (peak < 400) {
                labels += '.';
                continue;
            }
            auto amplitude = [&](double frequency) {
                double re = 0;
                double im = 0;
                for (std::size_t i = 0; i < kWindow; ++i) {
                    const double phase = 2.0 * M_PI * frequency * static_cast<double>(i) / m_rate;
                    re += sample(start + i) * std::cos(phase);
                    im += sample(start + i) * std::sin(phase);
                }
                return 2.0 * std::hypot(re, im) / kWindow;
            };
            char label = 'M';
            for (auto [frequency, name] : {std::pair{440.0, 'A'}, {660.0, 'B'}, {1000.0, 'S'}}) {
                if (amplitude(frequency) > 0.6 * peak)
                    label = name;
            }
            labels += label;
        }

        std::string sequence;
        for (std::size_t i = 0; i < labels.size();) {
            std::size_t run = 1;
            while (i + run < labels.size() && labels[i + run] == labels[i])
                ++run;
            if (labels[i] != '.' && run >= 2 && (sequence.empty() || sequence.back() != labels[i]))
                sequence += labels[i];
            i += run;
        }
        return sequence;
    }

    TempDir m_music;
    TempDir m_output;
    std::string m_outputPath = m_output.path() + "out.raw";
    std::vector<std::string> m_errors;
    int m_rate = 0;
    int m_channels = 0;
};

} // namespace

TEST_F(SdlDiskPlayback, PlaysWavMp3AndMidiInSortedOrderAndWraps)
{
    writeFile(m_music.path() + "a.wav", toneWav(440, 0.4));
    if (!writeToneMp3(m_music.path() + "B.mp3", 660, 0.4))
        GTEST_SKIP() << "the lame encoder is needed to make the MP3 test file";
    writeFile(m_music.path() + "c.MID", oneNoteMidi());
    // None of these may ever sound: a subfolder and other extensions.
    fs::create_directory(m_music.path() + "sub");
    writeFile(m_music.path() + "sub/0.wav", toneWav(1000, 0.4));
    writeFile(m_music.path() + "0.wma", toneWav(1000, 0.4));
    writeFile(m_music.path() + "0.midi", oneNoteMidi());

    auto opens = std::make_shared<std::vector<OpenRecord>>();
    {
        MusicPlaylist playlist(std::make_unique<RecordingSdlDevice>(opens));
        ASSERT_TRUE(playlist.findMusicFiles(m_music.path()));
        ASSERT_NO_THROW(playlist.startFirst());
        captureSpec();
        // Run until a.wav has started for the second time, then let it play out.
        EXPECT_TRUE(tickUntil(
            playlist, [&] { return opens->size() >= 4; }, std::chrono::seconds(10)));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
    EXPECT_TRUE(m_errors.empty()) << m_errors.front();

    std::vector<std::string> names;
    for (const OpenRecord& open : *opens) {
        names.push_back(open.name);
        std::cout << "[ timing   ] open " << open.name << ": " << open.milliseconds << " ms\n";
    }
    EXPECT_THAT(names, ElementsAre("a.wav", "B.mp3", "c.MID", "a.wav"));
    // The output holds the three tones in that order, then the first again.
    EXPECT_EQ(toneSequence().substr(0, 4), "ABMA") << toneSequence();
}

TEST_F(SdlDiskPlayback, RepeatsASingleFile)
{
    writeFile(m_music.path() + "only.wav", toneWav(440, 0.2));
    auto opens = std::make_shared<std::vector<OpenRecord>>();
    {
        MusicPlaylist playlist(std::make_unique<RecordingSdlDevice>(opens));
        ASSERT_TRUE(playlist.findMusicFiles(m_music.path()));
        playlist.startFirst();
        captureSpec();
        EXPECT_TRUE(tickUntil(
            playlist, [&] { return opens->size() >= 3; }, std::chrono::seconds(5)));
        EXPECT_EQ(playlist.musicIndex(), 0);
    }
    // Destroying the playlist has stopped the music and closed the audio output.
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(toneSequence(), "A");
}

TEST_F(SdlDiskPlayback, FileThatCannotBeOpenedIsReportedOnceThenSilence)
{
    writeFile(m_music.path() + "a.wav", toneWav(440, 0.2));
    writeFile(m_music.path() + "b.wav", "this is no sound file");
    writeFile(m_music.path() + "c.wav", toneWav(660, 0.2));
    auto opens = std::make_shared<std::vector<OpenRecord>>();
    {
        MusicPlaylist playlist(std::make_unique<RecordingSdlDevice>(opens));
        ASSERT_TRUE(playlist.findMusicFiles(m_music.path()));
        playlist.startFirst();
        captureSpec();
        tickUntil(
            playlist, [&] { return !m_errors.empty(); }, std::chrono::seconds(5));
        // Long enough for c.wav to have started, were the music not silent now.
        tickUntil(
            playlist, [] { return false; }, std::chrono::milliseconds(600));
        EXPECT_EQ(playlist.musicIndex(), 1);
        EXPECT_EQ(Mix_PlayingMusic(), 0);
    }
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_FALSE(m_errors.front().empty());
    EXPECT_EQ(opens->size(), 2u);
    EXPECT_EQ(toneSequence(), "A");
}

TEST_F(SdlDiskPlayback, NoAudioOutputFailsLikeAnOpenAndStaysSilent)
{
    setenv("SDL_AUDIODRIVER", "lumivane-no-such-driver", 1);
    writeFile(m_music.path() + "a.wav", toneWav(440, 0.2));
    MusicPlaylist playlist;
    ASSERT_TRUE(playlist.findMusicFiles(m_music.path()));
    std::string text;
    try {
        playlist.startFirst();
    } catch (const MusicDeviceError& error) {
        text = error.what();
    }
    EXPECT_FALSE(text.empty());
    tickUntil(
        playlist, [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

TEST_F(SdlDiskPlayback, DeviceModeFollowsOpenPlayAndClose)
{
    SdlMusicDevice device;
    EXPECT_FALSE(device.mode().has_value());
    EXPECT_FALSE(device.play());
    // Until played, an open file reads as stopped: that is how a file that does not play is
    // skipped. Once closed, the query fails again.
    writeFile(m_music.path() + "a.wav", toneWav(440, 2));
    device.open(m_music.path() + "a.wav");
    EXPECT_EQ(device.mode(), MusicDevice::Mode::Stopped);
    EXPECT_TRUE(device.play());
    EXPECT_EQ(device.mode(), MusicDevice::Mode::Playing);
    device.close();
    EXPECT_FALSE(device.mode().has_value());
    EXPECT_EQ(Mix_PlayingMusic(), 0);
}
