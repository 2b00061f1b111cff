#pragma once

#include <QString>

#include <functional>

// How a path is split into folders. The program uses Posix paths; Windows syntax exists so the
// shortening can be checked against Windows-style examples as well.
enum class PathSyntax
{
    Posix,  // "/" is the only delimiter; there are no drives and ":" is an ordinary character.
    Windows // "\" delimits folders and ":" ends a drive ("C:").
};

// Shortens path until the width of its text, as measured by textWidth, is at most maxWidth. Each
// pass replaces the first remaining folder by "...", so /home/u/p/a.jpg becomes /.../u/p/a.jpg,
// /.../p/a.jpg, /.../a.jpg, .../a.jpg and finally a.jpg. The loop stops at the first text that
// fits. The file name itself is never shortened: when the folders are used up the bare name is
// returned, even if it is still too wide. textWidth is called once per pass on the whole text
// (at most once per folder level plus three times) and never on the bare name.
QString fitPathToWidth(const QString& path, const std::function<int(const QString&)>& textWidth,
                       int maxWidth, PathSyntax syntax = PathSyntax::Posix);

// One shortening step on the folder part of a path (everything up to and including its last
// delimiter): the first folder, or the "..." left by an earlier step together with the folder
// after it, is replaced by "...". A leading delimiter (a rooted path) is kept. A folder part that
// is just the root delimiter becomes empty, as does one with no delimiter left to keep.
QString dropFirstFolder(const QString& folderPart, PathSyntax syntax = PathSyntax::Posix);
