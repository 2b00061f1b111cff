#pragma once

#include "scene/picturequality.h"
#include "scene/slideconstants.h"
#include "search/picturenames.h"
#include "show/awakeschedule.h"
#include "show/playorder.h"

// The show's own options: section [SHOW] of lumivane.ini, each key with a command-line twin
// ("MOTION" and "--motion") that wins over the file. Read once at start-up and handed to the
// window. The defaults are the show as it always was: JPEG and BMP pictures in sorted order, one
// camera entry per 30 ms frame.
struct ShowOptions
{
    // MOTION=FRAMES|SMOOTH: one camera entry per frame of the slide timer, or along the clock
    // at the display's refresh.
    SlideMotion motion = SlideMotion::Frames;
    // SECONDS=1..3600: the time each picture is shown, a decimal number.
    double seconds = 4.5;
    // FORMATS=DESIGN|ALL: the picture files the search collects.
    PictureFormats formats = PictureFormats::Design;
    // ORDER=SORTED|SHUFFLE: the order the pictures are played in.
    ShowOrder order = ShowOrder::Sorted;
    // QUALITY=DESIGN|HIGH: the slide texture and the drawing of the scene.
    PictureQuality quality = PictureQuality::Design;
    // WATCH=OFF|ON: with ON the show follows its folder while it runs (pictures added, changed,
    // moved or deleted), and waits for pictures when there are none.
    bool watch = false;
    // KEEP_AWAKE=ON|OFF: with ON the screen saver and the desktop's idle rules are held off while
    // the show runs (not while it is paused or asleep).
    bool keepAwake = true;
    // AWAKE=07:00-23:00: the local hours the show runs in; outside them it sleeps and puts the
    // screen to sleep. Empty: at all hours.
    AwakeSchedule awake;

    bool operator==(const ShowOptions&) const = default;
};
