#pragma once

#include <QString>

// Which picture files the search collects.
enum class PictureFormats
{
    // ".jpg", ".jpeg" and ".bmp".
    Design,
    // Those, and ".png", ".gif", ".webp", ".tif", ".tiff", ".heic", ".heif" and ".avif".
    All,
};

// Whether the search collects a file of this name: its extension, by hasExtension's rules,
// is one of those `formats` names.
bool isPictureName(const QString& name, PictureFormats formats);
